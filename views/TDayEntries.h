#pragma once

#include "DayEntryRecord.h"
#include "TEntryDetails.h"

#include <QDate>
#include <QList>
#include <QString>

#include <memory>
#include <utility>
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

    // The day the entries are shown on, set by the view before it asks for
    // them; invalid when not known (every entry then counts as its first day).
    QDate Day;

    // Stores a copy of entry under Pk with its details: at the front when the
    // entry is un-timed and UntimedFirst is on, else at the end.
    void Add(const DayEntryRecord& entry, const QString& Pk, const TEntryDetails& details = {});
    // Stores a copy of an entry that began on an earlier day and reaches into
    // this one: after the others of its kind, ahead of the day's own entries,
    // as it runs on from before the day's first hour.
    void AddContinued(const DayEntryRecord& entry, const QString& Pk, const TEntryDetails& details);

    // Lays the entries that reach past their first day over the days shown,
    // `days` in date order (each with its Day set): every entry of a day that
    // reaches a later day is added as continued to each later day it
    // reaches, and each entry of `earlier` (begun before the first day) to
    // each day it reaches. An entry whose start cannot be read stays where it is.
    static void Spread(const QList<TDayEntries*>& days, const TDayEntries* earlier = nullptr);

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
    // The details stored with the record at index, and whether it began on
    // an earlier day; same bounds as Entry.
    const TEntryDetails& Details(int index) const;
    bool Continued(int index) const;

    // The first and the last day the entry at index reaches, in office time.
    // Throws EStamp for a StartTime the stamp cannot hold.
    std::pair<QDate, QDate> DaysOf(int index) const;

private:
    struct Item
    {
        QString pk;
        std::unique_ptr<DayEntryRecord> record;
        TEntryDetails details;
        bool continued = false;
    };

    const Item& at(int index) const;

    std::vector<Item> items_;
    // How many continued entries lead the list.
    int continued_ = 0;
    bool notLoaded_ = false;
};
