#pragma once

#include "TEntryDetails.h"
#include "TServices.h"
#include "TViewEvents.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class TDayEntries;
class TQuorlaDB;
class TSession;
class TViewNavigator;

// The answers to the views' "want" events: the day's entries the user may
// see (with the filter on a resource, those that book it), user abbreviations, category texts and alarm marks, read from the
// session's database and caches. Nothing is answered - every answer left as
// the view passed it - until a user is logged in, so that no view shows any
// of the calendar behind the log-in dialog.
//
// Names and category texts are asked for every painted line too: each is
// looked up in its cache (which looks at its dataset's change mark) once per
// read of days, and answered as then until the next read; a name changed
// elsewhere shows with the next read, as the entries do.
//
// Alarm marks are asked for every painted line: they are read with each
// day's entries, for those entries alone, in one read of the alarms' index on
// their entry. A mark is as fresh as the entries it stands beside, a day costs
// the same however many alarms the office holds or changes, and painting
// reads nothing.
//
// While the database cannot be read (a server out of reach), the views keep
// what they last read: a day's entries, names, alarm and repeat marks and
// category texts as the last read that worked gave them; a day never read is
// marked not loaded (TDayEntries::MarkNotLoaded), never shown free. The days
// kept are those the user logged in may see: another user, or the same with
// other rights, starts without them. The failure itself is reported as a
// command's (TCommand, which tells an outage once), from the event loop once
// the view has moved and drawn: never in the middle of a move or a paint.
class TViewAnswers
{
public:
    TViewAnswers(TServices services, TSession& session);

    // Wires the day, week and month views' events to the answers below, and
    // their drawing failures to the application's error box.
    void Wire(TViewNavigator& views);

    // A day's entries come with their details, read for those entries alone
    // and without their notes: a view paints no notes.
    void WantDayEntries(QObject* sender, const QString& datePkVal, TDayEntries& dayEntries);
    // The entries the user may see that began before the days shown and
    // reach into them (TDetailsStore::ReachingInto), with their details.
    void WantReachingEntries(QObject* sender, const QString& firstDayKey, const QString& lastDayKey,
                             TDayEntries& entries);
    void WantUserName(QObject* sender, const QString& pk, QString& name);
    void WantAlarmedFlag(QObject* sender, const QString& pk, bool& alarmed);
    // From the keys of every occurrence (TSeriesWriter::OccurrenceKeys, the
    // exceptions apart), read again only when the links changed: their
    // change mark is looked at once per list read anew (a week of days for
    // the week view), so a refresh costs one mark read whatever the links
    // hold.
    void WantRepeatingFlag(QObject* sender, const QString& pk, TRepeatMark& mark);
    void WantCategoryDescription(QObject* sender, const QString& pk, QString& description);

    // How many reads of the links WantRepeatingFlag made (the cost the
    // views pay for the mark, beside one mark read per refresh).
    int RepeatReads() const { return repeatReads_; }

private:
    // With the filter on a resource, the entries that book it between the
    // first moment of day `firstDayKey` and the last of `lastDayKey`; none
    // asked for otherwise.
    std::optional<QSet<QString>> bookedOver(const QString& firstDayKey, const QString& lastDayKey);
    // Reads the marks of the entries in unmarked_; forgets every mark first
    // when the session's database is another one. Left as they were when the
    // read fails.
    void refreshAlarmMarks();

    TServices services_;
    TSession& session_;
    // The entries read that have an alarm, the entries read whose marks are
    // still to be read, and the database they were read from.
    QSet<QString> alarmed_;
    QSet<QString> unmarked_;
    const TQuorlaDB* alarmsOf_ = nullptr;
    // Reads the occurrences' keys again when the links changed since the
    // last read, or the session's database is another one.
    void refreshRepeatMarks();
    // The occurrences' keys, the links' change mark and database at their
    // last read, and whether a list was read since the mark was looked at.
    QSet<QString> repeating_;
    QSet<QString> detached_;
    QByteArray linksMark_;
    const TQuorlaDB* linksOf_ = nullptr;
    bool repeatStale_ = true;
    int repeatReads_ = 0;

    // Runs `read`; when it fails, `fallBack` gets its chance to answer from
    // what was read before, and the failure is reported.
    template <typename Read, typename FallBack>
    void readOrKeep(Read read, FallBack fallBack);
    // Reports a read's failure from the event loop (see above).
    void report(const QString& message);
    // The failure waiting to be reported; the reports' context, so that none
    // runs after this object is gone.
    QString unreported_;
    QObject reports_;

    // An entry as read for a view: its record, key and details.
    struct TReadEntry
    {
        QByteArray bytes;
        QString key;
        TEntryDetails details;
    };
    using TReadEntries = QList<TReadEntry>;
    // Reads with readOrKeep what `read` gives into `entries`, kept under
    // `kept` (a day key, or a range of them) for when the database cannot
    // be read; `read` returns the entries without their details.
    void answerEntries(const QString& kept, TDayEntries& entries, const std::function<TReadEntries()>& read);

    // The read of the views under way (TDetailsStore::TOneRead), 0 for
    // none: the days a view asks for and the entries reaching into them are
    // one read, which ends with the reaching entries, or when the event loop
    // runs again, whichever comes first.
    quint64 viewRead_ = 0;
    // Continues the read under way in `read`, or begins one.
    void continueViewRead(quint64 read);

    // What the last reads that worked gave, by day key and by record key
    // (the alarm marks are kept in alarmed_).
    QHash<QString, TReadEntries> days_;
    // The user and rights the days were read for.
    QString daysFor_;
    QHash<QString, QString> names_;
    QHash<QString, QString> categories_;
    // The names and category texts looked up in the caches since the days
    // were last read (users' keys, categories' keys with a 'C' before):
    // asked again, they are answered from names_ and categories_.
    QSet<QString> lookedUp_;
    bool lookUpsStale_ = true;
    // Whether `key` was looked up since the last read of days (the first
    // call after a read forgets those before it); notes it as looked up.
    bool lookedUp(const QString& key);
};
