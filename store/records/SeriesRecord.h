#pragma once

#include "TRecordBuffer.h"
#include "TRecurrenceRule.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>

// A repeating event, a record of the series dataset ("QLSeries.Ism"): the
// template every occurrence is made from - owner, category, description,
// assignees, private flag, time (or un-timed) and alarm - and its rule
// (TRecurrenceRule, as an RRULE beside its start). The occurrences themselves
// are ordinary day entries with their ordinary alarms, tied to the series by
// the link dataset (SeriesLinkRecord), so that every reader of the day
// entries and alarms sees them as it sees any entry.
//
// `MadeUntil` (index 9) is the last day up to which the occurrences are made
// (past the horizon up to the day before the rule's next day, when no day lies
// between): the alarm poll extends the series whose day lies below its horizon.
// `ChangeFrom`, `Change` and `SplitFrom` note a series change under way
// (TSeriesWriter):
// written before the change touches any occurrence and cleared after the
// last, so that whoever takes the series next finishes it.
class SeriesRecord : public TRecordBuffer<674>
{
public:
    static constexpr QLatin1StringView FileName{"QLSeries.Ism"};
    static constexpr QLatin1StringView Format{"&,$*11,$*11,$*255,R20$*11,&,$*121,$*11,X$*11,$*11,&,$*11"};

    // Bits of `Flags`.
    static constexpr qint32 UnTimed = 1;
    static constexpr qint32 Private = 2;
    static constexpr qint32 AlarmWanted = 4;
    // Set only while a Rewrite is noted: the change leaves the alarm as it
    // was (wanted before and after, as far before the start), so every
    // occurrence whose start stays keeps each person's alarm as it stands.
    static constexpr qint32 AlarmsKept = 8;
    // A series split off another ("this and following") once it has taken
    // over its occurrences: SplitFrom then keeps the first series of the
    // line it was split from (see Splitting, FirstOfLine).
    static constexpr qint32 SplitDone = 16;

    // A change under way (`Change`): stored codes, never renumber.
    enum class Pending : qint32 { None = 0, Rewrite = 1, Delete = 2 };

    static constexpr int MaxAssignees = 20;

    static constexpr std::size_t FlagsOffset = 0;
    static constexpr std::size_t OwnerKeyOffset = 4;
    static constexpr std::size_t CategoryKeyOffset = 15;
    static constexpr std::size_t DescriptionOffset = 26;
    static constexpr std::size_t DescriptionWidth = 255;
    static constexpr std::size_t AssigneesOffset = 281;
    static constexpr std::size_t AssigneeWidth = 11;
    static constexpr std::size_t AlarmOffsetOffset = 501;
    static constexpr std::size_t RuleOffset = 505;
    static constexpr std::size_t RuleWidth = 121;
    static constexpr std::size_t StartOffset = 626;
    static constexpr std::size_t MadeUntilOffset = 637;
    static constexpr std::size_t ChangeFromOffset = 648;
    static constexpr std::size_t ChangeOffset = 659;
    static constexpr std::size_t SplitFromOffset = 663;

    static constexpr qint16 MadeUntilIndex = 9;

    // All zero, then no category, no assignees, nothing made, no change.
    void initialise();

    qint32 Flags() const { return int32(FlagsOffset); }
    void setFlags(qint32 flags) { setInt32(FlagsOffset, flags); }
    QString OwnerKey() const { return text(OwnerKeyOffset, 11); }
    void setOwnerKey(const QString& key) { setText(OwnerKeyOffset, 11, key, "owner key"); }
    QString CategoryKey() const { return text(CategoryKeyOffset, 11); }
    void setCategoryKey(const QString& key) { setText(CategoryKeyOffset, 11, key, "category key"); }
    QString Description() const { return text(DescriptionOffset, DescriptionWidth); }
    void setDescription(const QString& description)
    {
        setText(DescriptionOffset, DescriptionWidth, description, "description");
    }
    QStringList AssigneeKeys() const;
    // At most MaxAssignees; the remaining slots hold "0000000000".
    void setAssigneeKeys(const QStringList& keys);
    // Seconds before an occurrence's start at which its alarm rings, when
    // AlarmWanted is set.
    qint32 AlarmOffset() const { return int32(AlarmOffsetOffset); }
    void setAlarmOffset(qint32 seconds) { setInt32(AlarmOffsetOffset, seconds); }

    // The rule, from the RRULE text, the start and the un-timed flag; an
    // invalid rule when the stored text is none this program can read.
    TRecurrenceRule Rule() const;
    // Stores the rule's RRULE, start and un-timed flag.
    void setRule(const TRecurrenceRule& rule);
    QString RRule() const { return text(RuleOffset, RuleWidth); }
    // Time key of the first day at the rule's time (00:00 un-timed).
    QString Start() const { return text(StartOffset, 11); }

    // Day key of the last day the occurrences are made up to.
    QString MadeUntil() const { return text(MadeUntilOffset, 11); }
    void setMadeUntil(const QString& dayKey) { setText(MadeUntilOffset, 11, dayKey, "made until"); }

    // The change under way and the day key it starts on.
    Pending Change() const { return Pending(int32(ChangeOffset)); }
    QString ChangeFrom() const { return text(ChangeFromOffset, 11); }
    void setChange(Pending change, const QString& fromDayKey);
    // While a series made by splitting another ("this and following") is
    // not yet done taking over its occurrences from ChangeFrom on: the key
    // of that other series. Once done (SplitDone): the key of the first
    // series of the line, whose parts together are what "all events in the
    // series" means, and ChangeFrom, while no change is under way, is the
    // day the part was split off - a workstation that knows no SplitDone
    // takes the split for one not yet done and finds nothing left to take
    // over from that day on. "0000000000" for a series never split off.
    QString SplitFrom() const { return text(SplitFromOffset, 11); }
    void setSplitFrom(const QString& key) { setText(SplitFromOffset, 11, key, "split from"); }
    // A split noted and not yet done.
    bool Splitting() const;
    // The first series of the line this one (stored as `key`) belongs to:
    // `key` itself unless it was split off.
    QString FirstOfLine(const QString& key) const;
    // Marks the split done, in the line of `first`.
    void setSplitDone(const QString& first);
};

static_assert(SeriesRecord::SplitFromOffset + 11 == SeriesRecord::Size);
