#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>

// One occurrence of a repeating event, a record of the link dataset
// ("QLSerLnk.Ism"): the series' key followed by the day key of the day the
// rule gives the occurrence (`Occurrence`, index 1: a series' occurrences in
// day order), the key of the day entry that is the occurrence (`EntryKey`,
// index 2: which series an entry belongs to), and what became of it.
//
// A day holds at most one link per series; the link is written before its
// entry and alarms (Pending) and marked made after them, so a link that is
// still Pending belongs to a writer that stopped half-way: the next writer of
// the series removes its entry and alarms, if any were made, and the link.
// A Deleted link keeps a day whose occurrence was deleted alone from being
// made again; an Exception's entry was changed alone and series changes leave
// it as it is.
class SeriesLinkRecord : public TRecordBuffer<47>
{
public:
    static constexpr QLatin1StringView FileName{"QLSerLnk.Ism"};
    static constexpr QLatin1StringView Format{"X$*21,X$*11,&,$*11"};

    // Bits of `Flags`.
    static constexpr qint32 Exception = 1;
    static constexpr qint32 Deleted = 2;
    static constexpr qint32 Pending = 4;

    static constexpr std::size_t OccurrenceOffset = 0;
    static constexpr std::size_t EntryKeyOffset = 21;
    static constexpr std::size_t FlagsOffset = 32;
    static constexpr std::size_t StartOffset = 36;

    static constexpr qint16 OccurrenceIndex = 1;
    static constexpr qint16 EntryKeyIndex = 2;

    // `seriesKey` followed by `dayKey`: the value of index 1.
    static QString occurrence(const QString& seriesKey, const QString& dayKey) { return seriesKey + dayKey; }

    QString Occurrence() const { return text(OccurrenceOffset, 21); }
    QString SeriesKey() const { return Occurrence().left(10); }
    QString DayKey() const { return Occurrence().mid(10); }
    void setOccurrence(const QString& seriesKey, const QString& dayKey)
    {
        setText(OccurrenceOffset, 21, occurrence(seriesKey, dayKey), "occurrence");
    }
    // "0000000000" for a deleted occurrence.
    QString EntryKey() const { return text(EntryKeyOffset, 11); }
    void setEntryKey(const QString& key) { setText(EntryKeyOffset, 11, key, "entry key"); }
    qint32 Flags() const { return int32(FlagsOffset); }
    void setFlags(qint32 flags) { setInt32(FlagsOffset, flags); }
    // Time key of the occurrence's start as the rule gave it (what an
    // exception replaces).
    QString Start() const { return text(StartOffset, 11); }
    void setStart(const QString& key) { setText(StartOffset, 11, key, "start"); }
};

static_assert(SeriesLinkRecord::StartOffset + 11 == SeriesLinkRecord::Size);
