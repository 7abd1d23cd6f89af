#include "SeriesRecord.h"

#include "RecordKey.h"
#include "TStamp.h"

void SeriesRecord::initialise()
{
    clear();
    setCategoryKey(RecordKey::None);
    setAssigneeKeys({});
    setMadeUntil(RecordKey::None);
    setChange(Pending::None, RecordKey::None);
    setSplitFrom(RecordKey::None);
}

QStringList SeriesRecord::AssigneeKeys() const
{
    QStringList keys;
    for (int slot = 0; slot < MaxAssignees; ++slot) {
        const QString key = text(AssigneesOffset + std::size_t(slot) * AssigneeWidth, AssigneeWidth);
        if (!RecordKey::isNone(key))
            keys << key;
    }
    return keys;
}

void SeriesRecord::setAssigneeKeys(const QStringList& keys)
{
    Q_ASSERT(keys.size() <= MaxAssignees);
    for (int slot = 0; slot < MaxAssignees; ++slot)
        setText(AssigneesOffset + std::size_t(slot) * AssigneeWidth, AssigneeWidth,
                slot < keys.size() ? keys[slot] : QString(RecordKey::None), "assignee");
}

TRecurrenceRule SeriesRecord::Rule() const
{
    TStamp start;
    start.SetSeconds(qint32(RecordKey::parse(Start())));
    // The start's calendar parts, never a local date-time: the rule's time
    // may be one its first day's clock skips (the occurrence then moves on).
    const QDate day(start.Year(), start.Month(), start.Day());
    const QTime time = (Flags() & UnTimed) ? QTime() : QTime(start.Hour(), start.Minute(), start.Second());
    return TRecurrenceRule::FromRRule(RRule(), day, time).value_or(TRecurrenceRule());
}

void SeriesRecord::setRule(const TRecurrenceRule& rule)
{
    TStamp start;
    const QDate day = rule.Start();
    const QTime time = rule.UnTimed() ? QTime(0, 0) : rule.Time();
    start.SetDateTime(day.year(), day.month(), day.day(), time.hour(), time.minute(), time.second());
    setText(RuleOffset, RuleWidth, rule.ToRRule(), "repeat rule");
    setText(StartOffset, 11, start.Key(), "start");
    setFlags(rule.UnTimed() ? (Flags() | UnTimed) : (Flags() & ~UnTimed));
}

void SeriesRecord::setChange(Pending change, const QString& fromDayKey)
{
    setInt32(ChangeOffset, qint32(change));
    setText(ChangeFromOffset, 11, fromDayKey, "change from");
}

bool SeriesRecord::Splitting() const
{
    return !(Flags() & SplitDone) && !RecordKey::isNone(SplitFrom());
}

QString SeriesRecord::FirstOfLine(const QString& key) const
{
    return (Flags() & SplitDone) && !RecordKey::isNone(SplitFrom()) ? SplitFrom() : key;
}

void SeriesRecord::setSplitDone(const QString& first)
{
    setSplitFrom(first);
    setFlags(Flags() | SplitDone);
}
