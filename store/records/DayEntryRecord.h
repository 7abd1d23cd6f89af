#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>

// One calendar event, a record of the day entries dataset. `StartTime` carries
// secondary index 3, which lists the entries of a day in time order. Times and
// references are key texts (see RecordKey); an un-timed entry starts at
// 00:00:00 of its day.
class DayEntryRecord : public TRecordBuffer<514>
{
public:
    static constexpr QLatin1StringView FileName{"QLDayEnt.Ism"};
    static constexpr QLatin1StringView Format{"&,%,X$*11,$*11,$*11,$*255,R20$*11"};

    // Bits of `Flags`; every other bit is 0.
    static constexpr qint32 UnTimed = 1;
    static constexpr qint32 Private = 2;

    static constexpr int MaxAssignees = 20;

    static constexpr std::size_t FlagsOffset = 0;
    static constexpr std::size_t FlagsWidth = 4;
    static constexpr std::size_t TagOffset = 4;
    static constexpr std::size_t TagWidth = 2;
    static constexpr std::size_t StartTimeOffset = 6;
    static constexpr std::size_t StartTimeWidth = 11;
    static constexpr std::size_t OwnerKeyOffset = 17;
    static constexpr std::size_t OwnerKeyWidth = 11;
    static constexpr std::size_t CategoryKeyOffset = 28;
    static constexpr std::size_t CategoryKeyWidth = 11;
    static constexpr std::size_t DescriptionOffset = 39;
    static constexpr std::size_t DescriptionWidth = 255;
    static constexpr std::size_t AssigneesOffset = 294;
    static constexpr std::size_t AssigneeWidth = 11;
    static constexpr std::size_t AssigneesWidth = AssigneeWidth * MaxAssignees;

    // Index of `StartTime`: the entries of a day or a range, in time order.
    static constexpr qint16 StartTimeIndex = 3;
    // Bytes of UTF-8 text the description can hold (see TTextCapacity).
    static constexpr int DescriptionCapacity = DescriptionWidth - 1;

    // Makes this the record of a new entry: all bytes zero, then `Tag` 1, no
    // category and all assignee slots empty ("0000000000").
    void initialise();

    qint32 Flags() const;
    void setFlags(qint32 flags);

    // 1 in every entry; set by initialise() and never changed afterwards.
    qint16 Tag() const;
    void setTag(qint16 tag);

    QString StartTime() const;
    void setStartTime(const QString& key);

    // The user who created the entry.
    QString OwnerKey() const;
    void setOwnerKey(const QString& key);

    // "0000000000" when the entry has no category.
    QString CategoryKey() const;
    void setCategoryKey(const QString& key);

    // The entry's text; at most 254 bytes. An over-long text is refused with
    // ETextTooLong (so is a key text longer than a key), the field keeping
    // what it held.
    QString Description() const;
    void setDescription(const QString& description);

    // The user key in one of the `Assignees` slots, 0 to MaxAssignees-1. The
    // users an entry is for fill the first slots in order; the remaining slots
    // hold "0000000000". Any other slot number is a programming error: it
    // asserts, and in a release build reads as "0000000000" and is not written.
    QString Assignee(int slot) const;
    void setAssignee(int slot, const QString& key);

    // The keys in the slots that name a user (not "0000000000", not empty), in
    // slot order.
    QStringList AssigneeKeys() const;
    // Puts the keys into the first slots and "0000000000" into the rest. More
    // than MaxAssignees keys is a programming error: it asserts, and in a
    // release build the first MaxAssignees are stored.
    void setAssigneeKeys(const QStringList& keys);

private:
    static bool validSlot(int slot);
};

static_assert(DayEntryRecord::AssigneesOffset + DayEntryRecord::AssigneesWidth == DayEntryRecord::Size);
