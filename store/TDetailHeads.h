#pragma once

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "TEntryDetails.h"
#include "TLargePages.h"

#include <QByteArray>
#include <QHash>
#include <QLatin1Char>
#include <QList>
#include <QString>
#include <QStringList>

#include <span>
#include <utility>
#include <vector>

class TXIsamFile;

// The heads of the details dataset (DetailRecord) held in memory for one
// database connection, so that a view reads the details of a day's or a
// week's entries without one index look-up per entry.
//
// The heads held are only used while they are those stored: Current()
// compares the dataset's change mark (TXIsamFile::ChangeMark) with the one
// they were read under, so a write by anyone, this workstation or another,
// makes them stale. Stale heads are read again in full, but only once the
// look-ups made without them since they went stale have come to a tenth of
// what they hold: in a busy office a reader keeps paying per look-up what
// it paid before, never a full read for every write of others, and a reader
// that reads much pays one full read now and then. The first full read
// waits likewise for a few thousand look-ups, so that a start does not pay
// for every head of the office before its first view (a long-running
// service may have it made at its first large listing: ReadWholeFrom).
//
// With them it holds the day entries of the entries whose heads reach past
// their start's day (the few a view of later days may have to show), under
// the day entries' own change mark and by the same rule (save that, the
// heads being read already, their first read waits only for a tenth of the
// reaching heads): a workstation that knows nothing of details may move or
// delete such an entry, and its head then tells nothing of that.
class TDetailHeads
{
public:
    // The details a head keeps (no notes), how many notes' parts it has and
    // the last day it reaches (the number of its `Reach`, 0 for none).
    struct THead
    {
        TEntryDetails details;
        qint32 parts = 0;
        qint64 reach = 0;
        // The number of its owner's key (RecordKey::parse).
        qint64 key = 0;

        // What the head record `head` keeps.
        static THead of(const DetailRecord& head);
    };
    // The number of a key text, as RecordKey::format writes it; 0, which
    // no record has, for any other text.
    static qint64 keyNumber(const QString& key)
    {
        if (key.size() != 10)
            return 0;
        const char16_t* digits = reinterpret_cast<const char16_t*>(key.constData());
        // Asked for every entry of every view read: unrolled, with one test
        // of all ten digits at the end rather than a branch for each.
        qint64 value = 0;
        bool wrong = false;
#pragma GCC unroll 10
        for (int i = 0; i < 10; ++i) {
            const unsigned digit = unsigned(digits[i]) - u'0';
            wrong |= digit > 9;
            value = value * 10 + digit;
        }
        return wrong ? 0 : value;
    }

    // Whether the heads held are those stored in `details` now, reading them
    // first when that is due; `asking` is how many owners the caller is about
    // to look up (counted towards the next full read when they are not
    // current). False when the mark cannot be had. A failed read throws
    // EQuorlaDB with the dataset's error text, and leaves none held.
    bool Current(TXIsamFile& details, qsizetype asking);
    // For a long-running service that answers many listings: the first full
    // read is made at the first look that asks for `asking` heads or more,
    // rather than after the few thousand look-ups a start waits for. 0 (the
    // default) keeps the start's wait. Stale heads, and the reaching heads'
    // day entries, are read by the class's rule either way.
    void ReadWholeFrom(qsizetype asking) { wholeFrom_ = asking; }
    // The same for the day entries of the reaching heads, as stored in
    // `days` now. Only meaningful after Current() answered true.
    bool ReachingCurrent(TXIsamFile& days, qsizetype asking);

    // Shares the change marks among the parts of one read (a view's days and
    // the entries reaching into them): while `read` (not 0) is set, each
    // dataset's mark is read at most once, and what that look told answers
    // every later look under the same `read`. Another `read`, or 0, looks
    // again. A read sees what was stored when it began, as one look would.
    void ShareMarks(quint64 read) { sharedRead_ = read; }
    quint64 SharedRead() const { return sharedRead_; }
    // A read number no read of any connection has had.
    static quint64 NewRead();

    // The head `mark` (DetailRecord::EntryMark or SeriesMark) and key
    // number `key` (keyNumber) name, or null when none is kept. Only
    // meaningful after Current() answered true.
    const THead* Find(QLatin1Char mark, qint64 key) const { return table(mark).find(key); }
    // Find() for each of `keys` into `found` at the same place (which holds
    // as many): the memory of all their heads is asked for before any is
    // read, so that a view's look-ups, scattered over a large office's
    // heads, wait for it together rather than one after another.
    void FindAll(QLatin1Char mark, std::span<const qint64> keys, std::span<const THead*> found) const
    {
        table(mark).findAll(keys, found);
    }
    // One head ReachingInto answered, with its place among the heads that
    // reach past their start's day.
    struct TReachingHead
    {
        const THead* head = nullptr;
        qsizetype at = 0;
    };
    // The heads that may reach into the day `day` (the number of its key,
    // RecordKey::parse) from an earlier one: into `entries` those of entries
    // that, as their heads were written, begin before it and reach it (the
    // few reaching past DetailRecord::ShortReachDays all), into `templates`
    // by series those of the templates that span days, all.
    void ReachingInto(qint64 day, QList<TReachingHead>& entries, QHash<QString, TEntryDetails>& templates) const;
    // A day entry as stored, with its key.
    using TStored = std::pair<QString, DayEntryRecord>;
    // One of those held: with its start (RecordKey::parse) and whether it is
    // un-timed, read once when it is read rather than at every view read.
    struct TReachingEntry
    {
        TStored stored;
        qint64 start = 0;
        bool unTimed = false;
    };
    // The day entry of the entry of `reaching`, which ReachingInto answered:
    // null when the entry is not stored. Only meaningful after
    // ReachingCurrent() answered true.
    const TReachingEntry* ReachingEntry(const TReachingHead& reaching) const;

private:
    // Heads by the number of their owner's key: the heads in one array,
    // found through an open-addressed table of key numbers and places in it.
    class TTable
    {
    public:
        void clear();
        // Adds `head`, replacing one of its key.
        void insert(const THead& head);
        const THead* find(qint64 key) const;
        void findAll(std::span<const qint64> keys, std::span<const THead*> found) const;
        qsizetype size() const { return qsizetype(heads_.size()); }
        // In the order added; stable until the next insert or clear.
        const std::vector<THead, TLargePages<THead>>& heads() const { return heads_; }

    private:
        struct TSlot
        {
            // 0, which no key number is, marks a free slot.
            qint64 key = 0;
            qint64 at = 0;
        };
        // Where the search for `key` begins.
        std::size_t home(qint64 key) const;
        // The slot that holds `key`, or the free one where it would go.
        const TSlot& slotOf(qint64 key) const;
        void grow();

        std::vector<THead, TLargePages<THead>> heads_;
        std::vector<TSlot, TLargePages<TSlot>> slots_;
    };
    const TTable& table(QLatin1Char mark) const { return mark == DetailRecord::SeriesMark ? series_ : entries_; }

    // What is held of one dataset: the change mark it was read under, and
    // the look-ups made without it since it went stale.
    struct THeld
    {
        QByteArray mark;
        const TXIsamFile* from = nullptr;
        bool held = false;
        qsizetype owed = 0;
        // The shared read (ShareMarks) the mark was last looked at in, of
        // which dataset, and whether it was then current.
        quint64 lookedIn = 0;
        const TXIsamFile* lookedAt = nullptr;
        bool fresh = false;
    };
    // Whether `held` was looked at in the shared read under way (so that
    // its answer stands), counting `asking` towards its next full read when
    // it was not current.
    bool lookedInRead(THeld& held, const TXIsamFile& dataset, qsizetype asking) const;

    // Whether what `held` stands for is current in `dataset`, reading it
    // with `read` when that is due (see the class's rule); `holding` is how
    // much it holds, `firstWait` the look-ups its first read waits for.
    bool current(THeld& held, TXIsamFile& dataset, qsizetype asking, qsizetype holding, qsizetype firstWait,
                 void (TDetailHeads::*read)(TXIsamFile&));
    // A head that reaches past its start's day, as the reach index holds it.
    struct TReaching
    {
        // The last day it reaches (THead::reach).
        qint64 last = 0;
        const THead* head = nullptr;
        bool series = false;
        // The day it begins on by its head, or none for one reaching far.
        qint64 from = 0;
        // The place of its entry's day entry among those held, -1 for none.
        qint32 stored = -1;
    };

    void read(TXIsamFile& details);
    void take(const DetailRecord& head);
    // Fills the reach index from the heads read.
    void index(const TTable& heads, bool series);
    void readReaching(TXIsamFile& days);
    // The entries whose head reaches past their start's day.
    QStringList reachingEntries() const;

    // By the number of the key of their entry, and of their series.
    TTable entries_;
    TTable series_;
    // By the last day they reach, then by key.
    std::vector<TReaching> byReach_;
    // One text for each place read, shared by every head naming it.
    QHash<QString, QString> places_;
    THeld heads_;
    // The day entries of the reaching heads (TReaching::stored); those not
    // stored left out.
    std::vector<TReachingEntry> stored_;
    THeld storedHeld_;
    quint64 sharedRead_ = 0;
    qsizetype wholeFrom_ = 0;
};
