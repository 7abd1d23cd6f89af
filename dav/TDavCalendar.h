#pragma once

#include "TBookingWriter.h"
#include "TCalendarImport.h"
#include "TDavNames.h"
#include "TDavSchedule.h"
#include "TResourceParties.h"
#include "TDavXml.h"
#include "TEntryDetails.h"
#include "TEventWriter.h"
#include "UserRecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>

class DayEntryRecord;
class SeriesRecord;
class TDavObject;
class TXIsamFile;
class TSeriesWriter;
class TQuorlaDB;
struct TDavReply;
struct TDavRequest;

// The CalDAV calendar of one logged-in user (RFC 4918, 4791, 6578): his
// principal, his calendar home and one calendar, "default", holding every
// entry he may see (EntryVisible with no display filter: his own and those
// he is assigned to, the public ones of everybody, another's private ones
// only when he is an assignee or an administrator).
//
//   /dav/                                    the root: who is logged in
//   /dav/principals/<USER>/                  his principal
//   /dav/calendars/<USER>/                   his calendar home
//   /dav/calendars/<USER>/default/           his calendar
//   /dav/calendars/<USER>/default/<KEY>.ics  an entry, by its record key
//   /dav/calendars/<USER>/outbox/            his scheduling outbox
//
// Free and busy time of anyone, the outbox and the resources' principals and
// calendars are TDavScheduling.cpp's and TDavResources.cpp's (TDavSchedule).
//
// An event a client adds keeps the UID it gave, and is named after the name
// it was PUT under, else its UID (TDavNames).
//
// Objects: one VEVENT each, times in UTC (all-day entries as dates), the
// client's UID or else that of the iCalendar export, the user's own alarm as
// VALARM. The ETag is strong: a hash of what the object is written from (the
// entry's record, the user's alarm time, the category's name, the office's
// zone). CTag and sync token name the latest record of the change trail and
// the office's zone; a sync reads the trail from there (one index range read)
// and lists every object when the zone is another. An event the user may not
// see answers as one that is not there, and a sync names it only where he
// saw it on one side of a change.
//
// Writes go through the store's writers with the workstation's rights, locks
// and stale checks: PUT of a new name imports the event as the user's own
// (TCalendarImport: a VALARM is his alarm; a repeat rule is refused, as the
// occurrences of a series are listed one by one here), PUT of an
// existing entry changes its time, text, privacy and category, keeping owner
// and assignees, and moves or switches off the user's own alarm; DELETE
// deletes it with its alarms.
class TDavCalendar
{
public:
    // What a logged-in session keeps from one request to the next rather
    // than read each time: the database's identity (the export's UIDs; made
    // once, never changed), the office's zone (read again after
    // ZoneSeconds) and the categories' names (read again when the
    // categories changed). Within a session the other datasets' contents a
    // listing needs are kept with the change mark they were read at, and read
    // again only when their dataset's mark differs: the client UIDs, the
    // series of each occurrence and each user's alarms. On a folder, or a
    // server used by one role, one session serves every user.
    struct TMarked
    {
        QByteArray mark;
        std::optional<QHash<QString, QString>> values;
    };
    // An object as last written: the record, details, alarm time, category
    // name and UID it was written from, its ETag and (once asked for) its
    // text.
    struct TKept
    {
        QByteArray record;
        TEntryDetails details;
        QString alarm;
        QString category;
        QString uid;
        QStringList resources;
        QByteArray etag;
        QByteArray data;
    };
    struct TSession
    {
        QString identity;
        QByteArray zone;
        QElapsedTimer zoneRead;
        QByteArray categoriesMark;
        std::optional<QHash<QString, QString>> categories;
        // The zone made of `zone`, and its offsets by day (none for a day
        // near a change of offset) and by hour of its wall-clock time as
        // they were needed.
        QByteArray zoneMade;
        QTimeZone timeZone;
        QHash<qint64, std::optional<qint64>> dayOffsets;
        QHash<qint64, qint64> offsets;
        QHash<QString, TMarked> uids; // by user key
        TMarked seriesOfEntries;
        QHash<QString, TMarked> alarms; // by user key
        // Up to MostKept objects by entry key, checked against what they were
        // written from at each use (the zone's change empties them).
        QHash<QString, TKept> objects;
    };
    static constexpr int MostKept = 4096;
    static constexpr int ZoneSeconds = 300;

    TDavCalendar(TQuorlaDB& database, const UserRecord& user, const QString& userKey, TSession& session);
    ~TDavCalendar();

    TDavReply Answer(const TDavRequest& request);

    static QString PrincipalPath(const QString& user);
    static QString HomePath(const QString& user);
    static QString CalendarPath(const QString& user);

    // A property asked for: namespace and local name.
    using TName = TDavXml::TName;

private:
    // Foreign: another's, refused. OthersCalendar: another person's
    // calendar, whose free and busy time is all he shows.
    // Resource...: a resource's principal, its calendar home, its calendar
    // of bookings and one booking's object (`name` the resource's key, and
    // the entry's after a slash).
    enum class Kind { Root, Principal, Home, Calendar, Object, Other, Foreign, Outbox, Inbox, OthersCalendar,
                      ResourcePrincipal, ResourceHome, ResourceCalendar, ResourceObject };
    struct TTarget
    {
        Kind kind = Kind::Other;
        QString name; // an object's name, without ".ics"; whose calendar another's is
    };
    // One entry as the user sees it.
    struct TObject
    {
        QString key;
        QString href;
        QByteArray etag;
        QByteArray data; // filled when calendar-data is asked for
    };

    TTarget targetOf(const QString& path) const;

    // Scheduling (TDavScheduling.cpp): a free-busy-query on the user's or
    // another's calendar, his outbox and inbox; an answer only where the
    // request is one of these.
    std::optional<TDavReply> scheduling(const TDavRequest& request, const TTarget& target);
    // A principal's scheduling property (RFC 6638 2.1-2.4); false for others.
    bool scheduleProperty(const TName& prop, QByteArray& value);
    TDavSchedule schedule();

    // A resource's principal and its read-only calendar of bookings
    // (TDavResources.cpp): the kind of a path under /dav/principals/ or
    // /dav/calendars/ whose user part is resource-<KEY>.
    static TTarget resourceTarget(const QStringList& parts);
    TDavReply resourceRequest(const TDavRequest& request, const TTarget& target);
    // One booking as an object: the booked entry as the user sees it, or,
    // where he may not see it, its time alone, private, as "Busy".
    struct TBookedObject
    {
        QString entry;
        QByteArray etag;
        QByteArray data;
    };
    TBookedObject bookedObject(const QString& entryKey, const QString& start, const QString& end);
    // The objects of the resource's bookings meeting fromWall..toWall.
    QList<TBookedObject> bookedObjects(const QString& resourceKey, qint64 fromWall, qint64 toWall);
    // The keys of this database's resources that `event` names as
    // ATTENDEEs (by address or principal), in key order; others' are no
    // concern of Quorla's.
    QStringList resourcesNamed(const TCalendarImport::TEvent& event);
    // A new event's resources, locked and checked free over its time into
    // `claim` (none named: left empty); an answer when one is not free.
    std::optional<TDavReply> claimResources(TBookingWriter& bookings, const TCalendarImport::TEvent& event,
                                            std::optional<TBookingWriter::TClaim>& claim);
    // 409: the resource is booked by another event, `text` naming it.
    static TDavReply bookingRefused(const QString& text);
    QByteArray resourceCollection(Kind kind, const TDavSchedule::TWho& resource, const TDavXml::TAsked& asked);
    TDavReply propfind(const TDavRequest& request, const TTarget& target);

    // REPORT (TDavReport.cpp): calendar-query (one UID, or a time range),
    // calendar-multiget and sync-collection.
    TDavReply report(const TDavRequest& request);
    TDavReply queryByUid(const TDavXml::TAsked& asked);
    TDavReply calendarQuery(const TDavXml::TAsked& asked);
    TDavReply multiget(const TDavXml::TAsked& asked);
    TDavReply syncCollection(const TDavXml::TAsked& asked);
    // What changed since a sync token: the entries and series the trail
    // names after it, those
    // whose category was renamed or deleted, or every one when the office's
    // zone is another than the token's.
    struct TChanges
    {
        QSet<QString> entries;
        QSet<QString> series;
        // The subjects of those with a record whose readers mark
        // (TChangeSummary) holds the user: gone or hidden now, they are
        // listed as 404; others are not listed at all.
        QSet<QString> known;
        QSet<QString> categories;
        bool everything = false;
    };
    void readChanges(TChanges& changes, qint64 sinceKey, qint64 sinceWhen);
    // Whether a trail record's summary tells of an entry the user could see
    // before or after the change.
    bool sawEither(const QString& summary) const;
    // The wall-clock range of entry starts a query from `startUtc` to
    // `endUtc` reads; whether `entry` lies in that query.
    void wallRange(qint64 startUtc, qint64 endUtc, qint64& from, qint64& to) const;
    // Whether the entry, with its stored length (30 minutes when it has none)
    // or days, overlaps startUtc..endUtc.
    bool overlaps(const DayEntryRecord& entry, const TEntryDetails& details, qint64 startUtc, qint64 endUtc);
    void addCategoryChanges(TChanges& changes);
    QByteArray changedResponses(const TChanges& changes, const TDavXml::TAsked& asked);
    // The office's zone as the sync token carries it.
    QString zoneMark() const;
    // calendar-data's expand of this report, in UTC seconds.
    std::optional<std::pair<qint64, qint64>> expand_;
    TDavReply get(const TTarget& target, bool head);
    TDavReply put(const TDavRequest& request, const TTarget& target);
    // The refusal of If-None-Match: * on an entry there, or of an If-Match
    // the entry (`exists` or not) no longer matches; none when it may go on.
    std::optional<TDavReply> preconditions(const TDavRequest& request, bool exists, const DayEntryRecord& entry,
                                           const QString& key);
    // A PUT's new object under `target` (`key` the entry its name stood for,
    // since deleted or never seen): imported as the user's, booking what it
    // names; its name remembered for the entry or series it became.
    TDavReply add(const TDavRequest& request, const TTarget& target, const QString& key, TCalendarImport& import,
                  const TCalendarImport::TEvent& event);
    // The answer to an added object, with its ETag when stored as sent.
    TDavReply addedSeries(const QString& uid, const QString& name, const QString& seriesKey, bool altered);
    TDavReply addedEntry(const QString& uid, const QString& name, const QString& key, bool altered);
    TDavReply remove(const TDavRequest& request, const TTarget& target);

    // The entry key an object name stands for; empty when none. With
    // `series`, a repeating event's name gives its series' key (and sets
    // it); without, such a name stands for nothing.
    QString keyOf(const QString& name, bool* series = nullptr);
    // Whether `name` is one Quorla gives its objects: a key, "series-" and
    // a key, or the export's UIDs.
    bool ownName(const QString& name) const;

    // A repeating event is one object: its series, with a repeat rule, the
    // days whose occurrence was deleted and each occurrence changed alone
    // (TCalendarExport, OnlySeries); its occurrences are not listed apart.
    // The series entry `key` is an occurrence of; empty when none.
    QString seriesOf(const QString& key);
    // Reads the series; false when there is none or the user may not see it.
    bool readSeriesVisible(const QString& seriesKey, SeriesRecord& series);
    QString seriesPath(const QString& seriesKey);
    // A hash of the series, its template's details, its links, its
    // occurrences with their details and the user's alarms of them: it
    // changes whenever one of them does.
    QByteArray seriesEtag(const QString& seriesKey, const SeriesRecord& series);
    QByteArray seriesData(const QString& seriesKey, const SeriesRecord& series);
    // One entry's <response> in a listing: its own, or its series' the first
    // time one of the series' occurrences comes (then nothing).
    QByteArray listed(const DayEntryRecord& entry, const QString& key, const QString& href, bool withData,
                      const QList<TName>& props, bool allProps);
    // The series' <response>, or its 404 when it is gone or hidden.
    QByteArray seriesResponse(const QString& seriesKey, const QString& href, bool withData, const QList<TName>& props,
                              bool allProps);
    // A PUT's change of the existing entry `key` (read as `entry`, visible to
    // the user) to `event`, with the locks, the series link and the user's own
    // alarm as a workstation's change takes them.
    TDavReply update(const QString& key, DayEntryRecord& entry, const TCalendarImport::TEvent& event);
    // Fills `entry` from `event`: its time, flags, text and category (a
    // category not known here leaves the one it had). True when the entry
    // keeps less than the event said.
    bool fillFrom(DayEntryRecord& entry, const TCalendarImport::TEvent& event);
    // Writes the filled entry, as one occurrence where it is one.
    // `resources`: those the event names; a change of them rebooks.
    TEventWriter::Result writeChange(TEventWriter& writer, const QString& key, const DayEntryRecord& entry,
                                     AlarmRecord& alarm, const QString& openedAlarm, const TEntryDetails& details,
                                     const QStringList& resources);
    // The user's own alarm of `key`: moved to the event's VALARM, switched
    // off, or made his own; a reply only when its lock is held elsewhere.
    std::optional<TDavReply> ownAlarm(TEventWriter& writer, const QString& key, const DayEntryRecord& entry,
                                      const TCalendarImport::TEvent& event);
    TDavReply putSeries(const TDavRequest& request, const QString& seriesKey);
    TDavReply removeSeries(const TDavRequest& request, const QString& seriesKey);
    // Reads the entry; false when there is none or the user may not see it.
    bool readVisible(const QString& key, DayEntryRecord& entry);
    bool visible(const DayEntryRecord& entry) const;
    bool mayChange(const DayEntryRecord& entry) const;
    QByteArray etagOf(const DayEntryRecord& entry, const QString& key);
    // The entry's object as the session keeps it, written anew when the
    // record, its details, the user's alarm, the category's name or (with
    // `withData`) the UID differ from those it was written from.
    const TKept& kept(const DayEntryRecord& entry, const QString& key, bool withData);
    // Whether `kept` was read at `dataset`'s change mark now (read once per
    // request into `mark`, empty when the dataset has none).
    bool markCurrent(TXIsamFile* dataset, const TMarked& kept, std::optional<QByteArray>& mark);
    // The start of the day (as if UTC) of wall-clock seconds.
    static qint64 DayOf(qint64 wall);
    // The moment (seconds since 1970 UTC) of wall-clock seconds of the
    // office's zone.
    qint64 momentOfWall(qint64 wall);
    QByteArray dataOf(const DayEntryRecord& entry, const QString& key);
    void loadAlarms();
    void loadNames();
    QString objectPath(const QString& key);
    // The path of an object a client named `name` (else `uid`), or
    // `otherwise` where neither can be a path's last part.
    QString pathOf(const QString& uid, const QString& name, const QString& otherwise) const;
    // The name a client PUT entry `key` under, where it is not its UID
    // (cached with the UIDs, uidOf).
    QString clientName(const QString& key);
    // The latest trail record as "<key>.<moment>", the sync token's tail.
    QString latestChange();
    QByteArray syncToken();

    // One <response> for a collection or the root.
    QByteArray collectionResponse(Kind kind, const QString& href, const QList<TName>& props, bool allProps);
    // What an object's <response> holds, worked out once per request.
    struct TPlan
    {
        enum class Field { Etag, ContentType, ResourceType, Data };
        QList<Field> fields;
        QByteArray missing; // the properties not found, as elements
        bool withData = false;
    };
    static TPlan planOf(const QList<TName>& props, bool allProps);
    QByteArray objectResponse(const TObject& object, const QList<TName>& props, bool allProps);
    static void objectResponse(QByteArray& out, const QByteArray& href, const QByteArray& etag, const QByteArray& data,
                               const TPlan& plan);
    // Appends an entry's <response> in a listing, or its series' the first
    // time one of the series' occurrences comes.
    void list(QByteArray& out, const DayEntryRecord& entry, const QString& key, const TPlan& plan,
              const QList<TName>& props, bool allProps);
    using TFits = std::function<bool(const DayEntryRecord&, const TEntryDetails&)>;
    // Appends the object of each entry from `from` to `to` (wall-clock
    // seconds), and of each entry of `reaching` (key and record as read),
    // that `wanted` takes and `fits` (when given) takes with its details,
    // read a batch at a time.
    void listRange(QByteArray& out, qint64 from, qint64 to, const std::function<bool(const DayEntryRecord&)>& wanted,
                   const TPlan& plan, const QList<TName>& props, bool allProps, const TFits& fits = {},
                   const QList<std::pair<QString, DayEntryRecord>>& reaching = {});
    // Appends every object the user may see.
    void listAll(QByteArray& out, const TPlan& plan, const QList<TName>& props, bool allProps);
    // Appends the <response> of each series not listed yet whose days from
    // `fromWall` to `toWall` (wall-clock seconds) lie past its horizon, none
    // of their occurrences made yet: listed where they would be, as the
    // export takes them.
    void listUnmade(QByteArray& out, qint64 fromWall, qint64 toWall, bool withData, const QList<TName>& props,
                    bool allProps);
    // The percent-encoded path of entry `key`'s object.
    QByteArray encodedPath(const QString& key);

    TQuorlaDB& database_;
    TSession& session_;
    UserRecord user_;
    QString userKey_;
    QTimeZone zone_;
    QString identity_;
    QByteArray calendarHref_; // the calendar's path, percent-encoded
    TDavObject* writer();
    std::unique_ptr<TDavObject> writer_;
    TKept scratch_;
    std::optional<QByteArray> uidsMark_;
    std::optional<QByteArray> linksMark_;
    // The user's alarm time by entry key (his earliest), read at first use.
    std::optional<QHash<QString, QString>> alarms_;
    std::optional<QHash<QString, QString>> categories_;
    TDavNames names_;
    std::unique_ptr<TSeriesWriter> series_;
    TSeriesWriter* seriesWriter();
    // The series of each occurrence by entry key, once more than
    // SingleLookups entries were looked up one by one (as uidOf).
    std::optional<QHash<QString, QString>> seriesOfEntries_;
    int seriesLookups_ = 0;
    QSet<QString> listedSeries_;
    // The details of the entries a listing is about to serve, read in one
    // batch (readDetails, in place of the batch before); an entry outside it
    // has its own read (detailsOf), never kept, so that a write's new
    // details are seen.
    void readDetails(const QStringList& keys);
    TEntryDetails detailsOf(const QString& key);
    QSet<QString> detailsRead_;
    // The resources and what entries book of them, read at first use.
    TResourceParties& parties();
    std::unique_ptr<TResourceParties> parties_;
    QHash<QString, TEntryDetails> details_;
    // The UID a client gave entry `key`, empty for none: looked up alone for
    // the first SingleLookups keys of a request, then from every client
    // UID, read at once.
    QString uidOf(const QString& key);
    static constexpr int SingleLookups = 16;
    QHash<QString, QString> someUids_;
    std::optional<QHash<QString, QString>> uids_;
};
