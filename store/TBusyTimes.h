#pragma once

#include "TEntryDetails.h"
#include "UserRecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class DayEntryRecord;
class TQuorlaDB;

// A stretch of time a person or a resource is taken, from `start` up to (not
// including) `end`, both in stamp seconds (TStamp: the office's wall-clock
// time), so that an hour on a day the clock changes is an hour on the clock.
// Two stretches that only touch do not overlap.
struct TBusyInterval
{
    qint64 start = 0;
    qint64 end = 0;
    // The entry that takes the time.
    QString entryKey;
    // Its description, when the asker may see it; empty otherwise.
    QString text;
    // A private entry the asker may not see: busy all the same, without text.
    bool hidden = false;

    bool overlaps(qint64 from, qint64 to) const { return start < to && from < end; }
    bool operator==(const TBusyInterval&) const = default;
};

// When the people (and resources) an event is planned for are taken: the
// entries each is an assignee of, over a range. The owner of an entry who is
// not one of its assignees is not taken by it.
//
// How long an entry takes: a timed entry from its start to its end, one
// without an end PointLength, but never past midnight (it stays on its own
// day, as it is shown); an un-timed entry its whole days, 00:00 of its first
// to 00:00 after its last. The occurrences of repeating events are day
// entries and count like any other.
//
// Texts follow the rule by which entries are shown (EntryVisible without a
// display filter): a private entry shows its text only to an administrator
// and its assignees; to everyone else it is busy without text. On a server
// whose users are roles, whose sessions do not read such an entry at all,
// the server answers it without its text (TServerBusy).
//
// A failed read throws EQuorla with the dataset's error text.
class TBusyTimes
{
public:
    // What a timed entry without an end takes, in seconds: half an hour, the
    // shortest meeting an office plans.
    static constexpr qint64 PointLength = 30 * 60;

    // Asks as `asker`, stored under `askerKey`.
    TBusyTimes(TQuorlaDB& database, const UserRecord& asker, const QString& askerKey);
    ~TBusyTimes();

    // The stretches of each of `userKeys` that overlap `from`..`to` (stamp
    // seconds, `to` not included), in start order, each as the entry takes it
    // (not cut to the range). Every asked key has a list, empty when free.
    // Entries whose key is in `leaveOut` are not counted (the event being
    // edited, whose old time is no longer its time).
    QHash<QString, QList<TBusyInterval>> People(const QStringList& userKeys, qint64 from, qint64 to,
                                                const QStringList& leaveOut = {});

    // A resource's bookings that overlap `from`..`to` (stamp seconds), each
    // naming the entry that booked it (its text is filled in here by the
    // rule above).
    using TBookingsReader = std::function<QList<TBusyInterval>(const QString& resourceKey, qint64 from, qint64 to)>;
    // Where resources' bookings come from; without a reader every resource
    // is free.
    void SetBookingsReader(TBookingsReader reader);
    // The reader of the bookings `database` keeps (TBookingStore); it must
    // outlive the reader.
    static TBookingsReader StoredBookings(TQuorlaDB& database);
    // As People, for resources, by their bookings.
    QHash<QString, QList<TBusyInterval>> Resources(const QStringList& resourceKeys, qint64 from, qint64 to,
                                                   const QStringList& leaveOut = {});

    // Another entry that takes one of an entry's assignees at its time.
    struct TOverlap
    {
        QString userKey;
        TBusyInterval other;
    };
    // Every other entry that takes one of `entry`'s assignees while `entry`
    // (with `details`; stored under `entryKey`, empty when new) takes them:
    // by assignee in slot order, each one's in start order.
    QList<TOverlap> Overlaps(const DayEntryRecord& entry, const TEntryDetails& details, const QString& entryKey);

    // The time `entry` takes by its details, without key or text.
    static TBusyInterval Taken(const DayEntryRecord& entry, const TEntryDetails& details);

private:
    struct Read;
    // Every entry that may overlap `from`..`to` and names one of `userKeys`
    // as assignee: those starting on the range's days and those reaching in
    // from earlier days.
    QList<Read> candidates(const QStringList& userKeys, qint64 from, qint64 to);
    // The same as the server answers them (TServerBusy), with their details.
    QList<Read> answered(const QStringList& userKeys, qint64 from, qint64 to);
    // The entries stored under `keys`, by key.
    QHash<QString, DayEntryRecord> entries(const QStringList& keys);
    TBusyInterval interval(const DayEntryRecord& entry, const QString& key, const TEntryDetails& details) const;
    // Fills in each stretch's text by the entry it names: one read for all.
    void describe(QHash<QString, QList<TBusyInterval>>& busy);

    TQuorlaDB& database_;
    UserRecord asker_;
    QString askerKey_;
    TBookingsReader bookings_;
    // Whether the server has the function that answers the private entries
    // the session may not read; not known yet when negative.
    int serverHidden_ = -1;
};
