#pragma once

#include "DayEntryRecord.h"
#include "TEntryDetails.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class DetailRecord;
class TQuorlaDB;

// Reads the details of entries and of series' templates (TEntryDetails). A
// database that has no details dataset, or an entry that has none stored,
// answers empty details: an entry written by a workstation that knows only the
// day entries is what it always was. An occurrence of a series with no details
// of its own answers its template's.
//
// The batch reads of the views (Entries, ReachingInto) go by the heads the
// connection holds (TQuorlaDB::DetailHeads) while those are current, and
// read the dataset otherwise; what they answer is the same either way.
//
// Any failed read other than "none stored" throws EQuorlaDB with the
// dataset's error text.
class TDetailsStore
{
public:
    explicit TDetailsStore(TQuorlaDB& database);

    // While one lives, the batch reads of its store share the change marks
    // they look at (TDetailHeads::ShareMarks): one look at each dataset for
    // a view's days and the entries reaching into them, rather than one for
    // each part. `read` continues a read begun before (a view's, spread
    // over several calls); 0 continues the one under way, or begins one.
    class TOneRead
    {
    public:
        explicit TOneRead(TDetailsStore& store, quint64 read = 0);
        ~TOneRead();
        TOneRead(const TOneRead&) = delete;
        TOneRead& operator=(const TOneRead&) = delete;
        // The read's number, to continue it later.
        quint64 Read() const;

    private:
        TDetailsStore& store_;
        quint64 previous_;
    };

    // The details of entry `entryKey`.
    TEntryDetails Entry(const QString& entryKey);
    // The details of series `seriesKey`'s template.
    TEntryDetails Series(const QString& seriesKey);
    // The details of each of `entryKeys` that has any (the others are left
    // out), for a view about to paint them. With `withNotes` false the notes
    // are left empty, which spares reading long ones.
    QHash<QString, TEntryDetails> Entries(const QStringList& entryKeys, bool withNotes = false);
    // The same for each of `entryKeys` in their order, empty details for one
    // that has none: what a view about to paint many entries asks, sparing
    // a table by key.
    QList<TEntryDetails> EntriesInOrder(const QStringList& entryKeys, bool withNotes = false);
    // The keys of the entries that start before `first` and reach into
    // `first`..`last` (un-timed over several days, or timed past midnight):
    // what a view of those days shows besides the entries that start in them.
    QStringList ReachingInto(const QDate& first, const QDate& last);
    // The same entries with their records as read for the check, so that a
    // caller need not read them again.
    QList<std::pair<QString, DayEntryRecord>> ReachingEntries(const QDate& first, const QDate& last);

private:
    // Entries() with the heads held used when `held` (found current by the
    // caller for this read).
    QList<TEntryDetails> entriesBy(const QStringList& entryKeys, bool withNotes, bool held);
    // Every record of `owner` (head first, then its parts), none when it
    // keeps none.
    QList<DetailRecord> recordsOf(const QString& owner);
    // The notes of the owners `parts` names, with how many parts each has,
    // by owner, read in one go from their parts: those whose parts are all
    // there.
    QHash<QString, QString> notesOf(const QHash<QString, qint32>& parts);
    // Gives `found`'s entries their notes; `owners` names, by place in
    // `found`, the owner (DetailRecord::owner) whose head an entry goes by
    // and how many notes' parts that has.
    void addNotes(QList<TEntryDetails>& found, const QHash<qsizetype, std::pair<QString, qint32>>& owners);
    // The entries that may reach into `first` from an earlier day, by the
    // reach index or by the heads held; the templates that span days go
    // into `templates`.
    QStringList reachingByIndex(const QDate& first, QHash<QString, TEntryDetails>& templates);
    // Tells an entry that reaches into the days, with its day entry.
    using TTakeReaching = std::function<void(const QString& key, const DayEntryRecord& entry)>;
    // ReachingEntries' entries, each handed to `take` as found: the views'
    // reads keep their keys or their records, never a copy of both.
    void reaching(const QDate& first, const TTakeReaching& take);
    // By the heads held, the entries whose day entries are held too go
    // checked to `take`, the others are answered.
    QStringList reachingHeld(const QDate& first, QHash<QString, TEntryDetails>& templates, const TTakeReaching& take);
    // Whether an entry starting at `start` (the number of its key), un-timed
    // or not, with `details` begins before the day `firstDay` and reaches it.
    static bool reaches(qint64 start, bool unTimed, const TEntryDetails& details, qint64 firstDay);
    // The occurrences of `templates` (by series) that may reach into `first`
    // by their template's details, having none of their own.
    QStringList occurrencesReaching(const QHash<QString, TEntryDetails>& templates, const QDate& first, bool held);
    // The series of each of `entryKeys` that is an occurrence, by entry.
    QHash<QString, QString> seriesOf(const QStringList& entryKeys);
    // Of `entryKeys`, the day entries stored, by key.
    QHash<QString, DayEntryRecord> entries(const QStringList& entryKeys);
    // The occurrences of series `seriesKey` on the `span` days before `first`.
    QStringList occurrencesBefore(const QString& seriesKey, const QDate& first, int span);

    TQuorlaDB& database_;
};
