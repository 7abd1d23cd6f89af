#pragma once

#include "TRecordWriter.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class TQuorlaDB;
class TXIsamFile;

// The change trail of one database object: each change made through the
// store's writers adds one record (TrailRecord) right after the change
// succeeded - when, by whom, on which workstation, what was done to which
// record, and a short summary. In a folder the trail only looks on: a trail
// that cannot be written (absent, damaged, unreachable) never stops or undoes
// a change; the first failure is told once per database (TQuorlaDB::WarnOnce)
// and the changes go on unrecorded, and a change whose process dies between
// the change and its trail record has no record. On a server a writer makes
// the record inside its change's command (TCommandScope): a record that
// cannot be written throws, the command is undone, and no change stands
// without its record. A server without a trail dataset at all only warns.
//
// Reads: the history of one record in the order it was written; the latest
// changes across the database, one user's or all, within a date range, page
// by page (each page one index range read, whatever the trail's size); and
// removal of records older than the days kept, a few at a time.
class TChangeTrail
{
public:
    // Stored codes: never renumber.
    enum class Action : qint32 {
        Setting = 0,
        EventAdded = 1,
        EventChanged = 2,
        EventDeleted = 3,
        AlarmSnoozed = 4,
        AlarmSwitchedOff = 5,
        UserAdded = 6,
        UserChanged = 7,
        UserRemoved = 8,
        CategoryAdded = 9,
        CategoryRenamed = 10,
        CategoryDeleted = 11,
        EventChangedByRemoval = 12,
        EventDeletedByRemoval = 13,
        DaysKeptChanged = 14,
        // A repeating event's own actions, one record each whatever number
        // of occurrences they touched (the summary says how many).
        SeriesAdded = 30,
        SeriesChanged = 31,
        SeriesDeleted = 32,
        // A resource events book (a room).
        ResourceAdded = 40,
        ResourceChanged = 41,
        ResourceDeleted = 42,
    };

    // One change as a writer reports it. `subject` names the record whose
    // history it belongs to (Subject()).
    struct TChange
    {
        Action action;
        const TXIsamFile* dataset;
        QString key;
        QString subject;
        QString summary;
    };

    // One change as read back; `position` is its place in the latest-first
    // order, to go on from (Latest's `after`).
    struct TEntry
    {
        QString key;
        Action action = Action::Setting;
        QString when;
        QString userKey;
        QString workstation;
        QString dataset;
        QString recordKey;
        QString subject;
        QString summary;
        QString position;
        // The writer's offset from UTC then; unset for an older program's
        // record (Moment).
        std::optional<int> utcOffset;
    };

    // A choice of the latest changes: one user's (empty: everybody's), from
    // and to two moments as time keys (empty: no bound), both included.
    struct TFilter
    {
        QString userKey;
        QString from;
        QString to;
    };

    static constexpr int DefaultDaysKept = 365;
    // Records removed by one Prune at most: a poll stays short.
    static constexpr int PruneBatch = 8;

    // `trail` is the open trail dataset, or null when there is none; `reason`
    // then says why (told at the first change).
    TChangeTrail(TQuorlaDB& database, std::unique_ptr<TXIsamFile> trail, QString reason);
    ~TChangeTrail();
    TChangeTrail(const TChangeTrail&) = delete;
    TChangeTrail& operator=(const TChangeTrail&) = delete;

    bool Available() const { return trail_ != nullptr; }

    // Adds the change's record, by the database's acting user and workstation,
    // at the current moment. In a folder never throws: a failure is told
    // once; on a server a failed write throws EQuorla.
    void Record(const TChange& change);
    // Adds the records of many changes at once (an import's new entries), in
    // one transaction. Fails as Record does.
    void RecordAll(const QList<TChange>& changes);
    // Says, once, why changes go unrecorded when the trail is not there.
    void TellIfUnavailable();

    // The moment of a change recorded at `when` (a time key): the writer's
    // local time at his offset from UTC where the record gives it, else (an
    // older program's record) a local time of this process, as workstations
    // sharing one zone wrote and read it.
    static QDateTime Moment(const QString& when, std::optional<int> utcOffset);

    // The subject of an entry's, a user's and a category's history.
    static QString EntrySubject(const QString& key) { return QStringLiteral("E") + key; }
    static QString UserSubject(const QString& key) { return QStringLiteral("U") + key; }
    static QString CategorySubject(const QString& key) { return QStringLiteral("C") + key; }
    static QString ResourceSubject(const QString& key) { return QStringLiteral("R") + key; }
    // A repeating event's history (its occurrences' own changes stay under
    // their entries).
    static QString SeriesSubject(const QString& key) { return QStringLiteral("S") + key; }

    // The changes of one subject in the order they were recorded.
    QList<TEntry> History(const QString& subject);
    // The changes of every subject from `first` to `last` (both included) in
    // one index range read: subject by subject, each in the order recorded.
    QList<TEntry> History(const QString& first, const QString& last);
    // The name each user's own latest record gives him (TChangeSummary::NameIn),
    // by user key: the trail keeps naming users who are gone.
    QHash<QString, QString> UserNames();
    // Up to `count` changes matching `filter`, latest first, after the one
    // at `after` (empty: from the latest).
    QList<TEntry> Latest(const TFilter& filter, const QString& after, int count);

    // The days the trail keeps (DefaultDaysKept until an administrator chose).
    int DaysKept();
    // Stores the days kept for every workstation, and records the change.
    // False when the trail cannot be written.
    bool SetDaysKept(int days);
    // Removes up to `batch` records older than the days kept; answers how
    // many went. Never throws.
    int Prune(int batch = PruneBatch);

    // The words for an action ("Event changed").
    static QString ActionText(Action action);
    // The dataset's own name ("QLDayEnt.Ism"), without folder or server.
    static QString DatasetName(const TXIsamFile& dataset);

private:
    void failed(const QString& why);
    // A record that could not be written: thrown on a server, told in a folder.
    void writeFailed(const QString& why);
    static TEntry entryOf(const class TrailRecord& record, const QString& key);

    TQuorlaDB& database_;
    std::unique_ptr<TXIsamFile> trail_;
    QString reason_;
    TRecordWriter writer_;
};
