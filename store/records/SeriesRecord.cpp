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
    const QDateTime at = start.AsDateTime();
    const QTime time = (Flags() & UnTimed) ? QTime() : at.time();
    return TRecurrenceRule::FromRRule(RRule(), at.date(), time).value_or(TRecurrenceRule());
}

void SeriesRecord::setRule(const TRecurrenceRule& rule)
{
    TStamp start;
    start.SetDateTime(QDateTime(rule.Start(), rule.UnTimed() ? QTime(0, 0) : rule.Time()));
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
