#pragma once

#include "DayEntryRecord.h"

#include <QString>

#include <memory>
#include <vector>

// The events of one day as a view receives them from its owner: private copies
// of whole DayEntryRecord buffers, each with the RecordKey (`Pk`) it is stored
// under. Callers get copies back, never references into the container.
class TDayEntries
{
public:
    TDayEntries() = default;
    TDayEntries(const TDayEntries&) = delete;
    TDayEntries& operator=(const TDayEntries&) = delete;

    // When true (the default) Add puts un-timed events in front of all others,
    // so a day lists its un-timed events first, in the reverse of the order of
    // adding, then its timed events in the order of adding.
    bool UntimedFirst = true;

    // Stores a copy of entry under Pk: at the front when the entry is un-timed
    // and UntimedFirst is on, else at the end.
    void Add(const DayEntryRecord& entry, const QString& Pk);

    // Frees every copy and empties the container; the day counts as loaded.
    void Clear();

    // The owner could not read the day and has nothing read earlier to give
    // (the database out of reach): the view marks the day "not loaded"
    // rather than show it free.
    void MarkNotLoaded() { notLoaded_ = true; }
    bool NotLoaded() const { return notLoaded_; }
    // What a view adds to a day's heading when the day is not loaded.
    static const QString NotLoadedMark;

    int Count() const;

    // A copy of the record at index, 0 to Count()-1. Any other index throws
    // EQuorla "List index out of bounds (index)".
    DayEntryRecord Entry(int index) const;

    // The Pk stored with the record at index; same bounds as Entry.
    QString PkAt(int index) const;

private:
    struct Item
    {
        QString pk;
        std::unique_ptr<DayEntryRecord> record;
    };

    const Item& at(int index) const;

    std::vector<Item> items_;
    bool notLoaded_ = false;
};
