#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>

#include <cstddef>

// One booking of a resource by a day entry, a record of the bookings dataset
// ("QLBook.Ism"): the resource is taken from `Start` (included) to `End`
// (excluded), both time keys (TStamp) of the office's wall clock. So a
// booking that ends when the next begins does not meet it.
//
// `Slot` (index 1) is the resource's key followed by the start's time key:
// a resource's bookings in time order are one range of it. `Entry` (index 2)
// is the booking day entry; `Series` (index 3) the repeating event whose
// occurrence that entry is, or empty: every occurrence books for itself, and a
// series' bookings are one look-up. A record of a series with no entry
// ("0000000000") books no time: it notes a resource the series' occurrences
// book, made later ones too.
class BookingRecord : public TRecordBuffer<54>
{
public:
    static constexpr QLatin1StringView FileName{"QLBook.Ism"};
    static constexpr QLatin1StringView Format{"X$*21,X$*11,X$*11,$*11"};

    static constexpr std::size_t SlotOffset = 0;
    static constexpr std::size_t EntryOffset = 21;
    static constexpr std::size_t SeriesOffset = 32;
    static constexpr std::size_t EndOffset = 43;

    static constexpr qint16 SlotIndex = 1;
    static constexpr qint16 EntryIndex = 2;
    static constexpr qint16 SeriesIndex = 3;

    // The `Slot` value of resource `resourceKey` at time key `start`.
    static QString slot(const QString& resourceKey, const QString& start) { return resourceKey + start; }

    QString Slot() const { return text(SlotOffset, 21); }
    QString Resource() const { return Slot().left(10); }
    QString Start() const { return Slot().mid(10); }
    void setSlot(const QString& resourceKey, const QString& start) { setText(SlotOffset, 21, slot(resourceKey, start), "booking"); }
    QString Entry() const { return text(EntryOffset, 11); }
    void setEntry(const QString& key) { setText(EntryOffset, 11, key, "booking entry"); }
    QString Series() const { return text(SeriesOffset, 11); }
    void setSeries(const QString& key) { setText(SeriesOffset, 11, key, "booking series"); }
    QString End() const { return text(EndOffset, 11); }
    void setEnd(const QString& key) { setText(EndOffset, 11, key, "booking end"); }
};

static_assert(BookingRecord::EndOffset + 11 == BookingRecord::Size);
