#include "TDavCalendar.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "ImportRecord.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TCalendarExport.h"
#include "TBookingWriter.h"
#include "TCalendarImport.h"
#include "TDavExpand.h"
#include "TDavReply.h"
#include "TDavObject.h"
#include "TDavRequest.h"
#include "TDavXml.h"
#include "TDetailHeads.h"
#include "TDetailsStore.h"
#include "TEntryVisibility.h"
#include "TEventCodec.h"
#include "TEventWriter.h"
#include "TFilterRules.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"
#include "TSeriesWriter.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSet>

#include <optional>
#include <vector>

namespace {

const QString& Dav = TDavXml::Dav;
const QString& CalDav = TDavXml::CalDav;
const QString& CalServer = TDavXml::CalServer;
const QString Root = QStringLiteral("/dav/");
constexpr qint64 SecondsPerDay = 86400;
// A listing that asks the details of this many entries at once (a week of
// a busy office, a month of a small one, a whole calendar's sync) has the
// session read the details' heads whole: the service answers many listings
// in its sessions' life, and each after it reads no head one by one. A
// session that answers only GETs and small reports never pays that read.
constexpr qsizetype WholeHeadsFrom = 32;

using TName = TDavCalendar::TName;

TDavReply locked(const QString& holder)
{
    QString text = QStringLiteral("The event is open on a workstation and cannot be changed now.");
    if (!holder.isEmpty())
        text += QLatin1Char('\n') + holder;
    return TDavReply::Text(423, text);
}

// The answers every writing method gives in the same words.
TDavReply noSuchEvent()
{
    return TDavReply::Text(404, QStringLiteral("There is no such event."));
}

TDavReply changedSince()
{
    return TDavReply::Text(412, QStringLiteral("The event was changed since it was read."));
}

// A CalDAV precondition (RFC 4791 5.3.2.1) as the error body names it.
QByteArray calDavCondition(const char* name)
{
    return QByteArray("<c:") + name + " xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/>";
}

// An event that holds nothing Quorla can store as it is.
TDavReply notStored(const QString& reason)
{
    return TDavXml::Error(422, calDavCondition("valid-calendar-object-resource"),
                          QStringLiteral("The event cannot be stored: %1.").arg(reason));
}

// Adds what an object shows of `details` to an ETag's hash.
void addDetails(QCryptographicHash& hash, const TEntryDetails& details)
{
    const qint32 span[] = {details.durationSeconds, details.days};
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(span), sizeof span));
    for (const QString* text : {&details.location, &details.notes}) {
        const QByteArray bytes = text->toUtf8();
        const qint32 size = qint32(bytes.size());
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
        hash.addData(bytes);
    }
}

// A write done: `status` (201 or 204), with the object's new ETag when it is
// still readable.
TDavReply done(int status, const QByteArray& etag = {})
{
    TDavReply reply;
    reply.status = status;
    if (!etag.isEmpty())
        reply.addHeader("ETag", etag);
    return reply;
}

// Reads the one event of a PUT's body; on failure, the answer: 400 for a
// body that is not iCalendar (the reason names `name`), 422 for an event
// that cannot be stored.
std::optional<TDavReply> readBody(TCalendarImport& import, const QByteArray& body, const QString& name,
                                  TCalendarImport::TEvent& event)
{
    QString reason;
    if (import.ReadEvent(body, name, event, reason))
        return std::nullopt;
    if (reason == QStringLiteral("%1 holds no event").arg(name))
        return TDavXml::Error(422, calDavCondition("supported-calendar-component"), reason + QLatin1Char('.'));
    if (reason.startsWith(name))
        return TDavXml::Error(400, calDavCondition("valid-calendar-data"), reason + QLatin1Char('.'));
    return notStored(reason);
}

bool matches(const QByteArray& condition, const QByteArray& etag)
{
    const QByteArray given = condition.trimmed();
    if (given == "*")
        return true;
    for (const QByteArray& one : given.split(',')) {
        QByteArray tag = one.trimmed();
        if (tag.startsWith("W/"))
            continue; // a weak tag never matches a strong comparison
        if (tag == etag)
            return true;
    }
    return false;
}

} // namespace

qint64 TDavCalendar::DayOf(qint64 wall)
{
    return wall - ((wall % SecondsPerDay) + SecondsPerDay) % SecondsPerDay;
}

TDavCalendar::TDavCalendar(TQuorlaDB& database, const UserRecord& user, const QString& userKey, TSession& session)
    : database_(database), session_(session), user_(user), userKey_(userKey), names_(database, userKey)
{
    database_.DetailHeads().ReadWholeFrom(WholeHeadsFrom);
}

TDavCalendar::~TDavCalendar() = default;

TSeriesWriter* TDavCalendar::seriesWriter()
{
    if (!series_ && database_.Series())
        series_ = std::make_unique<TSeriesWriter>(database_);
    return series_.get();
}

QString TDavCalendar::seriesOf(const QString& key)
{
    if (seriesOfEntries_)
        return seriesOfEntries_->value(key);
    SeriesLinkRecord link;
    TSeriesWriter* writer = seriesWriter();
    if (!writer)
        return QString();
    if (!linksMark_ && markCurrent(database_.SeriesLinks(), session_.seriesOfEntries, linksMark_)) {
        seriesOfEntries_ = session_.seriesOfEntries.values;
        return seriesOfEntries_->value(key);
    }
    // A listing reads every link once rather than make a round trip to the
    // server per entry.
    if (++seriesLookups_ > SingleLookups) {
        QHash<QString, QString>& found = seriesOfEntries_.emplace();
        TXIsamFile& links = *database_.SeriesLinks();
        const bool read = links.Range(link.bytes(), SeriesLinkRecord::EntryKeyIndex, RecordKey::format(1),
                                      RecordKey::format(9999999999), [&] {
                                          if (!(link.Flags() & SeriesLinkRecord::Deleted))
                                              found.insert(link.EntryKey(), link.SeriesKey());
                                          return true;
                                      });
        if (!read && links.LastError() != IsamNotFound)
            throw EQuorla(links.ErrorText());
        if (!linksMark_->isEmpty())
            session_.seriesOfEntries = {*linksMark_, found};
        return found.value(key);
    }
    if (writer->LinkOf(key, link) && !(link.Flags() & SeriesLinkRecord::Deleted))
        return link.SeriesKey();
    return QString();
}

bool TDavCalendar::readSeriesVisible(const QString& seriesKey, SeriesRecord& series)
{
    TSeriesWriter* writer = seriesWriter();
    if (seriesKey.isEmpty() || !writer || !writer->ReadSeries(seriesKey, series))
        return false;
    return SeriesVisible(user_, userKey_, series);
}

QString TDavCalendar::pathOf(const QString& uid, const QString& name, const QString& otherwise) const
{
    const QString given = name.isEmpty() ? uid : name;
    const bool named = !given.isEmpty() && !given.contains(QLatin1Char('/')) && given != QLatin1String(".")
        && given != QLatin1String("..");
    return CalendarPath(user_.UserName()) + (named ? given : otherwise) + QStringLiteral(".ics");
}

QString TDavCalendar::seriesPath(const QString& seriesKey)
{
    const QString uid = names_.UidOf(seriesKey, true);
    return pathOf(uid, uid.isEmpty() ? QString() : names_.NameOf(seriesKey, true), TDavNames::SeriesName(seriesKey));
}

QByteArray TDavCalendar::seriesEtag(const QString& seriesKey, const SeriesRecord& series)
{
    loadAlarms();
    loadNames();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArrayView(series.bytes().data(), qsizetype(series.bytes().size())));
    hash.addData(categories_->value(series.CategoryKey()).toUtf8());
    hash.addData(zone_.id());
    TDetailsStore details(database_);
    addDetails(hash, details.Series(seriesKey));
    const auto links = seriesWriter()->Links(seriesKey);
    QStringList entryKeys;
    for (const auto& [linkKey, link] : links)
        if (!RecordKey::isNone(link.EntryKey()))
            entryKeys << link.EntryKey();
    const QHash<QString, TEntryDetails> occurrences = details.Entries(entryKeys, true);
    // An occurrence the user may not see is not in his object: its changes
    // leave the ETag as it is.
    for (const auto& [linkKey, link] : links) {
        hash.addData(QByteArrayView(link.bytes().data(), qsizetype(link.bytes().size())));
        DayEntryRecord entry;
        if (!RecordKey::isNone(link.EntryKey())
            && database_.DayEntries().GetEqual(entry.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey())
            && visible(entry)) {
            hash.addData(QByteArrayView(entry.bytes().data(), qsizetype(entry.bytes().size())));
            hash.addData(alarms_->value(link.EntryKey()).toLatin1());
            hash.addData(categories_->value(entry.CategoryKey()).toUtf8());
            addDetails(hash, occurrences.value(link.EntryKey()));
        }
    }
    return '"' + hash.result().toHex().left(20) + '"';
}

QByteArray TDavCalendar::seriesData(const QString& seriesKey, const SeriesRecord& series)
{
    TCalendarExport exported;
    exported.CurrentUser = user_;
    exported.CurrentUserKey = userKey_;
    exported.Zone = zone_.id();
    exported.OnlySeries = seriesKey;
    exported.OnlySeriesUid = names_.UidOf(seriesKey, true);
    // The days whose observances of the zone are written: the series' first
    // to its last made.
    exported.StartDate = QDateTime::fromSecsSinceEpoch(RecordKey::parse(series.Start()), QTimeZone::utc()).date();
    exported.EndDate = exported.StartDate;
    const auto links = seriesWriter()->Links(seriesKey);
    if (!links.isEmpty())
        exported.EndDate = std::max(exported.EndDate, QDateTime::fromSecsSinceEpoch(
                                                          RecordKey::parse(links.last().second.Start()), QTimeZone::utc())
                                                          .date());
    return exported.Build(database_);
}

QByteArray TDavCalendar::seriesResponse(const QString& seriesKey, const QString& href, bool withData,
                                        const QList<TName>& props, bool allProps)
{
    SeriesRecord series;
    if (!readSeriesVisible(seriesKey, series))
        return "<d:response>" + TDavXml::Href(href) + "<d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
    TObject object{seriesKey, href, seriesEtag(seriesKey, series), QByteArray()};
    if (withData)
        object.data = seriesData(seriesKey, series);
    if (withData && expand_)
        object.data = DavExpanded(object.data, expand_->first, expand_->second);
    return objectResponse(object, props, allProps);
}

QByteArray TDavCalendar::listed(const DayEntryRecord& entry, const QString& key, const QString& href, bool withData,
                                const QList<TName>& props, bool allProps)
{
    const QString seriesKey = seriesOf(key);
    if (!seriesKey.isEmpty()) {
        if (listedSeries_.contains(seriesKey))
            return QByteArray();
        listedSeries_.insert(seriesKey);
        SeriesRecord series;
        if (!readSeriesVisible(seriesKey, series))
            return QByteArray();
        return seriesResponse(seriesKey, seriesPath(seriesKey), withData, props, allProps);
    }
    const TKept& object = kept(entry, key, withData);
    QByteArray out;
    objectResponse(out, href.isEmpty() ? encodedPath(key) : TDavXml::Encoded(href), object.etag, object.data,
                   planOf(props, allProps));
    return out;
}

void TDavCalendar::list(QByteArray& out, const DayEntryRecord& entry, const QString& key, const TPlan& plan,
                        const QList<TName>& props, bool allProps)
{
    const QString seriesKey = seriesOf(key);
    if (!seriesKey.isEmpty()) {
        out += listed(entry, key, QString(), plan.withData, props, allProps);
        return;
    }
    const TKept& object = kept(entry, key, plan.withData);
    objectResponse(out, encodedPath(key), object.etag, object.data, plan);
}

void TDavCalendar::listUnmade(QByteArray& out, qint64 fromWall, qint64 toWall, bool withData, const QList<TName>& props,
                              bool allProps)
{
    if (!seriesWriter())
        return;
    const auto day = [](qint64 wall) { return QDateTime::fromSecsSinceEpoch(wall, QTimeZone::utc()).date(); };
    SeriesRecord series;
    QStringList unmade;
    TLookup::Each(*database_.Series(), series.bytes(), [&](const QString& key) {
        if (!listedSeries_.contains(key) && TSeriesWriter::FirstUnmade(series, day(fromWall), day(toWall)).isValid())
            unmade << key;
    });
    for (const QString& key : std::as_const(unmade)) {
        listedSeries_.insert(key);
        if (readSeriesVisible(key, series))
            out += seriesResponse(key, seriesPath(key), withData, props, allProps);
    }
}

qint64 TDavCalendar::momentOfWall(qint64 wall)
{
    // A day whose zone keeps one offset from the day before to the day
    // after: one look-up for the whole day.
    const qint64 day = DayOf(wall) / SecondsPerDay;
    auto steady = session_.dayOffsets.constFind(day);
    if (steady == session_.dayOffsets.constEnd()) {
        const QDateTime before = QDateTime::fromSecsSinceEpoch((day - 1) * SecondsPerDay, QTimeZone::utc());
        const QTimeZone::OffsetData next = zone_.nextTransition(before);
        const bool kept = !next.atUtc.isValid() || next.atUtc.toSecsSinceEpoch() > (day + 2) * SecondsPerDay;
        steady = session_.dayOffsets.insert(day, kept ? std::optional<qint64>(zone_.offsetFromUtc(before))
                                                      : std::nullopt);
    }
    if (*steady)
        return wall - **steady;
    // Zones change their offset on the hour: one look-up per hour of the
    // office's wall-clock time.
    const qint64 hour = wall >= 0 ? wall / 3600 : (wall - 3599) / 3600;
    QHash<qint64, qint64>& offsets = session_.offsets;
    auto found = offsets.constFind(hour);
    if (found == offsets.constEnd()) {
        const QDateTime w = QDateTime::fromSecsSinceEpoch(hour * 3600, QTimeZone::utc());
        found = offsets.insert(hour, hour * 3600 - QDateTime(w.date(), w.time(), zone_).toSecsSinceEpoch());
    }
    return wall - *found;
}

QString TDavCalendar::uidOf(const QString& key)
{
    if (uids_)
        return uids_->value(key);
    const auto found = someUids_.constFind(key);
    if (found != someUids_.cend())
        return *found;
    if (!uidsMark_) {
        QString reason;
        if (markCurrent(database_.ImportMap(reason), session_.uids[userKey_], uidsMark_)) {
            uids_ = session_.uids[userKey_].values;
            return uids_->value(key);
        }
    }
    // A few objects are looked up one by one (one index read each); a request
    // naming more is a listing, which reads the whole map once rather than
    // make a round trip to the server per object.
    if (someUids_.size() >= SingleLookups) {
        uids_ = names_.Uids();
        if (!uidsMark_->isEmpty())
            session_.uids[userKey_] = {*uidsMark_, uids_};
        return uids_->value(key);
    }
    return *someUids_.insert(key, names_.UidOf(key));
}

QString TDavCalendar::PrincipalPath(const QString& user)
{
    return QStringLiteral("/dav/principals/%1/").arg(user);
}

QString TDavCalendar::HomePath(const QString& user)
{
    return QStringLiteral("/dav/calendars/%1/").arg(user);
}

QString TDavCalendar::CalendarPath(const QString& user)
{
    return QStringLiteral("/dav/calendars/%1/default/").arg(user);
}

QString TDavCalendar::objectPath(const QString& key)
{
    const QString uid = uidOf(key);
    return pathOf(uid, uid.isEmpty() ? QString() : clientName(key), key);
}

QString TDavCalendar::clientName(const QString& key)
{
    const QString nameKey = TDavNames::NameKey(key);
    if (uids_)
        return uids_->value(nameKey);
    const auto found = someUids_.constFind(nameKey);
    if (found != someUids_.cend())
        return *found;
    return *someUids_.insert(nameKey, names_.NameOf(key));
}

QByteArray TDavCalendar::encodedPath(const QString& key)
{
    const QString uid = uidOf(key);
    if (uid.isEmpty())
        return calendarHref_ + key.toLatin1() + ".ics";
    return TDavXml::Encoded(objectPath(key));
}

bool TDavCalendar::markCurrent(TXIsamFile* dataset, const TMarked& kept, std::optional<QByteArray>& mark)
{
    QByteArray& now = mark.emplace();
    if (dataset == nullptr || !dataset->ChangeMark(now))
        now.clear();
    return !now.isEmpty() && kept.values && kept.mark == now;
}

TDavCalendar::TTarget TDavCalendar::targetOf(const QString& path) const
{
    TTarget target;
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty() || (parts.size() == 1 && parts[0] == QLatin1String("dav"))) {
        target.kind = Kind::Root;
        return target;
    }
    if (parts[0] != QLatin1String("dav") || parts.size() < 3)
        return target;
    if (parts[2].startsWith(TDavSchedule::ResourceName(QString())))
        return resourceTarget(parts);
    const bool mine = UserRecord::NameOf(parts[2]) == UserRecord::NameOf(user_.UserName());
    if (parts[1] == QLatin1String("principals") && parts.size() == 3) {
        target.kind = mine ? Kind::Principal : Kind::Foreign;
    } else if (parts[1] == QLatin1String("calendars")) {
        const QString box = parts.value(3);
        if (!mine && parts.size() == 4 && box == QLatin1String("default"))
            target = {Kind::OthersCalendar, UserRecord::NameOf(parts[2])};
        else if (!mine)
            target.kind = Kind::Foreign;
        else if (parts.size() == 3)
            target.kind = Kind::Home;
        else if (parts.size() == 4 && (box == QLatin1String("outbox") || box == QLatin1String("inbox")))
            target.kind = box == QLatin1String("outbox") ? Kind::Outbox : Kind::Inbox;
        else if (parts[3] != QLatin1String("default") || parts.size() > 5)
            target.kind = Kind::Other;
        else if (parts.size() == 4)
            target.kind = Kind::Calendar;
        else if (parts[4].endsWith(QLatin1String(".ics")) && parts[4].size() > 4) {
            target.kind = Kind::Object;
            target.name = parts[4].chopped(4);
        }
    }
    return target;
}

TDavReply TDavCalendar::Answer(const TDavRequest& request)
{
    const TTarget target = targetOf(request.path);
    if (target.kind == Kind::Other)
        return TDavReply::Text(404, QStringLiteral("There is nothing at %1.").arg(request.path));
    if (session_.zone.isEmpty() || session_.zoneRead.elapsed() > ZoneSeconds * 1000LL) {
        session_.zone = database_.OfficeZone();
        session_.zoneRead.start();
    }
    if (session_.zoneMade != session_.zone || !session_.timeZone.isValid()) {
        // What was learnt or written in another zone is of no use.
        session_.zoneMade = session_.zone;
        session_.timeZone = QTimeZone(session_.zone);
        if (!session_.timeZone.isValid())
            session_.timeZone = QTimeZone::systemTimeZone();
        session_.offsets.clear();
        session_.dayOffsets.clear();
        session_.objects.clear();
    }
    if (session_.objects.size() >= MostKept)
        session_.objects.clear();
    zone_ = session_.timeZone;
    calendarHref_ = TDavXml::Encoded(CalendarPath(user_.UserName()));
    if (session_.identity.isEmpty()) {
        // Read: a request that only reads writes nothing. Made only where
        // the database has none yet.
        TXIsamFile& users = database_.Users();
        if (!users.ReadIdentity(session_.identity)
            && (users.LastError() != IsamNotFound || !users.Identity(session_.identity)))
            throw EQuorla(users.ErrorText());
    }
    identity_ = session_.identity;
    if (std::optional<TDavReply> scheduled = scheduling(request, target))
        return *scheduled;
    if (target.kind == Kind::Foreign || target.kind == Kind::OthersCalendar)
        return TDavReply::Text(403, QStringLiteral("%1 is another user's.").arg(request.path));
    const QByteArray& method = request.method;
    if (method == "PROPFIND")
        return propfind(request, target);
    if (method == "REPORT") {
        if (target.kind != Kind::Calendar)
            return TDavReply::Text(403, QStringLiteral("Reports are made on the calendar, %1.")
                                            .arg(CalendarPath(user_.UserName())));
        return report(request);
    }
    if (method == "GET" || method == "HEAD") {
        if (target.kind == Kind::Object)
            return get(target, method == "HEAD");
        return TDavReply::Text(200, QStringLiteral("Quorla calendar of %1: %2").arg(user_.FullName(),
                                                                                    CalendarPath(user_.UserName())));
    }
    if (target.kind != Kind::Object || method == "POST") {
        TDavReply reply = TDavReply::Text(405, QStringLiteral("Only events can be written or deleted."));
        reply.addHeader("Allow", "OPTIONS, GET, HEAD, PROPFIND, REPORT");
        return reply;
    }
    if (method == "PUT")
        return put(request, target);
    return remove(request, target);
}

bool TDavCalendar::visible(const DayEntryRecord& entry) const
{
    static const TFilterRules everything;
    return EntryVisible(everything, user_, userKey_, entry);
}

bool TDavCalendar::mayChange(const DayEntryRecord& entry) const
{
    return entry.OwnerKey() == userKey_ || (user_.Rights() & UserRecord::CanModifyOthersEntries) != 0;
}

QString TDavCalendar::keyOf(const QString& name, bool* series)
{
    bool isSeries = false;
    QString key = names_.KeyOf(name, &isSeries);
    if (key.isEmpty()) {
        // An import by this user, by the UID it came with.
        QString reason;
        TXIsamFile* map = database_.ImportMap(reason);
        ImportRecord known;
        if (map
            && TLookup::Equal(*map, known.bytes(), ImportRecord::SourceIndex, TCalendarImport::SourceOf(userKey_, name))) {
            key = known.TargetKey();
            isSeries = known.kind() == ImportRecord::Kind::Series;
        } else if (name.size() > 10 && name == TCalendarExport::Uid(name.left(10), identity_)) {
            // The export's UID, as a client may look an entry up by it.
            key = name.left(10);
        } else if (name.size() > 17 && name == TCalendarExport::SeriesUid(name.mid(7, 10), identity_)) {
            key = name.mid(7, 10);
            isSeries = true;
        }
    }
    if (series)
        *series = isSeries;
    else if (isSeries)
        return QString();
    return key;
}

bool TDavCalendar::readVisible(const QString& key, DayEntryRecord& entry)
{
    if (key.isEmpty())
        return false;
    if (!database_.DayEntries().GetEqual(entry.bytes(), TXIsamFile::PrimaryIndex, key)) {
        if (database_.DayEntries().LastError() != IsamNotFound)
            throw EQuorla(database_.DayEntries().ErrorText());
        return false;
    }
    return visible(entry);
}

void TDavCalendar::loadAlarms()
{
    if (alarms_)
        return;
    // Kept for the session while no alarm of anybody changed.
    TMarked& known = session_.alarms[userKey_];
    std::optional<QByteArray> mark;
    if (markCurrent(&database_.Alarms(), known, mark)) {
        alarms_ = known.values;
        return;
    }
    QHash<QString, QString>& alarms = alarms_.emplace();
    // The user's part of the index on user and time: one range read, the
    // earliest alarm of each entry first.
    TXIsamFile& set = database_.Alarms();
    AlarmRecord alarm;
    const bool read = set.Range(alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey_ + QString(RecordKey::None),
                                userKey_ + QStringLiteral("9999999999"), [&] {
                                    if (!alarms.contains(alarm.DayEntryKey()))
                                        alarms.insert(alarm.DayEntryKey(), alarm.AlarmTime());
                                    return true;
                                });
    if (!read && set.LastError() != IsamNotFound)
        throw EQuorla(set.ErrorText());
    if (!mark->isEmpty())
        known = {*mark, alarms_};
}

void TDavCalendar::loadNames()
{
    if (categories_)
        return;
    QByteArray mark;
    const bool marked = database_.Categories().ChangeMark(mark);
    if (!marked || !session_.categories || mark != session_.categoriesMark) {
        QHash<QString, QString>& categories = session_.categories.emplace();
        CategoryRecord category;
        TLookup::Each(database_.Categories(), category.bytes(),
                      [&](const QString& key) { categories.insert(key, category.Description()); });
        session_.categoriesMark = marked ? mark : QByteArray();
        if (!marked)
            categories_ = std::move(session_.categories);
    }
    if (!categories_)
        categories_ = session_.categories;
}

QByteArray TDavCalendar::etagOf(const DayEntryRecord& entry, const QString& key)
{
    return kept(entry, key, false).etag;
}

const TDavCalendar::TKept& TDavCalendar::kept(const DayEntryRecord& entry, const QString& key, bool withData)
{
    loadAlarms();
    loadNames();
    const QByteArrayView record(entry.bytes().data(), qsizetype(entry.bytes().size()));
    const QString alarm = alarms_->value(key);
    const QString category = categories_->value(entry.CategoryKey());
    const QStringList resources = parties().Of(key);
    TEntryDetails details = detailsOf(key);
    details.location = parties().Location(details, resources);
    QHash<QString, TKept>& objects = session_.objects;
    auto found = objects.find(key);
    TKept* object = found == objects.end() ? nullptr : &*found;
    if (object == nullptr || object->record != record || object->details != details || object->alarm != alarm
        || object->category != category || object->resources != resources) {
        // A listing beyond what is kept writes the rest without keeping it;
        // the next request starts afresh (Answer).
        if (object == nullptr)
            object = objects.size() < MostKept ? &*objects.insert(key, TKept()) : &scratch_;
        // What the object shows: the record, the user's alarm, the category's
        // name, and the office's zone its times are read in (the kept objects
        // go when it changes), and its details.
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(record);
        hash.addData(alarm.toLatin1());
        hash.addData(category.toUtf8());
        hash.addData(zone_.id());
        addDetails(hash, details);
        for (const QString& resource : resources)
            hash.addData((resource + parties().Find(resource).value_or(TResourceParties::TResource{}).name).toUtf8());
        *object = TKept{record.toByteArray(), details, alarm, category, QString(), resources,
                        '"' + hash.result().toHex().left(20) + '"', QByteArray()};
    }
    if (withData) {
        const QString uid = uidOf(key);
        if (object->data.isEmpty() || object->uid != uid) {
            object->uid = uid;
            object->data = writer()->Text(entry, object->details,
                                          uid.isEmpty() ? TCalendarExport::Uid(key, identity_) : uid, category, alarm,
                                          [this](qint64 wall) { return momentOfWall(wall); }, object->resources,
                                          &parties());
        }
    }
    return *object;
}

TResourceParties& TDavCalendar::parties()
{
    if (!parties_)
        parties_ = std::make_unique<TResourceParties>(database_, identity_);
    return *parties_;
}

void TDavCalendar::readDetails(const QStringList& keys)
{
    details_ = TDetailsStore(database_).Entries(keys, true);
    parties().Read(keys);
    detailsRead_ = QSet<QString>(keys.begin(), keys.end());
}

TEntryDetails TDavCalendar::detailsOf(const QString& key)
{
    if (detailsRead_.contains(key))
        return details_.value(key);
    return TDetailsStore(database_).Entry(key);
}

TDavObject* TDavCalendar::writer()
{
    if (!writer_)
        writer_ = std::make_unique<TDavObject>();
    return writer_.get();
}

QByteArray TDavCalendar::dataOf(const DayEntryRecord& entry, const QString& key)
{
    return kept(entry, key, true).data;
}

QByteArray TDavCalendar::collectionResponse(Kind kind, const QString& href, const QList<TName>& props, bool allProps)
{
    const QString name = user_.UserName();
    const QByteArray principal = TDavXml::Href(PrincipalPath(name));
    QList<TName> wanted = props;
    if (allProps) {
        wanted = {{Dav, QStringLiteral("resourcetype")}, {Dav, QStringLiteral("displayname")},
                  {Dav, QStringLiteral("current-user-principal")}};
        if (kind == Kind::Principal)
            wanted.append({CalDav, QStringLiteral("calendar-home-set")});
        if (kind == Kind::Calendar)
            wanted << TName{CalDav, QStringLiteral("supported-calendar-component-set")}
                   << TName{CalServer, QStringLiteral("getctag")} << TName{Dav, QStringLiteral("sync-token")};
    }
    QByteArray found;
    QByteArray missing;
    for (const TName& prop : wanted) {
        const QString& n = prop.second;
        QByteArray value;
        bool known = true;
        if (prop.first == Dav && n == QLatin1String("resourcetype")) {
            value = kind == Kind::Principal ? "<d:principal/>"
                : kind == Kind::Calendar   ? "<d:collection/><c:calendar/>"
                : kind == Kind::Outbox     ? "<d:collection/><c:schedule-outbox/>"
                : kind == Kind::Inbox      ? "<d:collection/><c:schedule-inbox/>"
                                           : "<d:collection/>";
        } else if (prop.first == Dav && n == QLatin1String("displayname")) {
            value = TDavXml::Escaped(kind == Kind::Calendar || kind == Kind::Principal ? user_.FullName()
                                                                               : QStringLiteral("Quorla"));
        } else if (prop.first == Dav && (n == QLatin1String("current-user-principal") || n == QLatin1String("owner")
                                         || n == QLatin1String("principal-URL"))) {
            known = n == QLatin1String("current-user-principal") || kind != Kind::Root;
            value = principal;
        } else if (kind == Kind::Principal && scheduleProperty(prop, value)) {
        } else if (prop.first == CalDav && n == QLatin1String("calendar-home-set")) {
            known = kind == Kind::Principal;
            value = TDavXml::Href(HomePath(name));
        } else if (prop.first == CalDav && n == QLatin1String("supported-calendar-component-set")) {
            known = kind == Kind::Calendar;
            value = "<c:comp name=\"VEVENT\"/>";
        } else if ((prop.first == CalServer && n == QLatin1String("getctag"))
                   || (prop.first == Dav && n == QLatin1String("sync-token"))) {
            known = kind == Kind::Calendar;
            if (known)
                value = TDavXml::Escaped(QString::fromUtf8(syncToken()));
        } else if (prop.first == Dav && n == QLatin1String("supported-report-set")) {
            known = kind == Kind::Calendar;
            value = "<d:supported-report><d:report><c:calendar-query/></d:report></d:supported-report>"
                    "<d:supported-report><d:report><c:calendar-multiget/></d:report></d:supported-report>"
                    "<d:supported-report><d:report><d:sync-collection/></d:report></d:supported-report>";
        } else if (prop.first == Dav && n == QLatin1String("current-user-privilege-set")) {
            known = kind == Kind::Calendar;
            value = "<d:privilege><d:read/></d:privilege>";
            if (user_.Rights() & UserRecord::CanAddEntries)
                value += "<d:privilege><d:write/></d:privilege><d:privilege><d:write-content/></d:privilege>"
                         "<d:privilege><d:bind/></d:privilege><d:privilege><d:unbind/></d:privilege>";
        } else {
            known = false;
        }
        TDavXml::Sort(found, missing, prop, known, value);
    }
    return "<d:response>" + TDavXml::Href(href) + TDavXml::Propstats(found, missing) + "</d:response>";
}

TDavCalendar::TPlan TDavCalendar::planOf(const QList<TName>& props, bool allProps)
{
    using Field = TPlan::Field;
    TPlan plan;
    if (allProps) {
        plan.fields = {Field::Etag, Field::ContentType, Field::ResourceType};
        return plan;
    }
    for (const TName& prop : props) {
        const QString& n = prop.second;
        if (prop.first == Dav && n == QLatin1String("getetag"))
            plan.fields.append(Field::Etag);
        else if (prop.first == Dav && n == QLatin1String("getcontenttype"))
            plan.fields.append(Field::ContentType);
        else if (prop.first == Dav && n == QLatin1String("resourcetype"))
            plan.fields.append(Field::ResourceType);
        else if (prop.first == CalDav && n == QLatin1String("calendar-data"))
            plan.fields.append(Field::Data), plan.withData = true;
        else
            plan.missing += TDavXml::Element(prop);
    }
    return plan;
}

QByteArray TDavCalendar::objectResponse(const TObject& object, const QList<TName>& props, bool allProps)
{
    QByteArray out;
    objectResponse(out, TDavXml::Encoded(object.href), object.etag, object.data, planOf(props, allProps));
    return out;
}

void TDavCalendar::objectResponse(QByteArray& out, const QByteArray& href, const QByteArray& etag,
                                  const QByteArray& data, const TPlan& plan)
{
    using Field = TPlan::Field;
    out.append("<d:response><d:href>").append(href).append("</d:href>");
    if (!plan.fields.isEmpty()) {
        out.append("<d:propstat><d:prop>");
        for (const Field field : plan.fields) {
            switch (field) {
            case Field::Etag:
                out.append("<d:getetag>").append(etag).append("</d:getetag>");
                break;
            case Field::ContentType:
                out.append("<d:getcontenttype>text/calendar; charset=utf-8; component=vevent</d:getcontenttype>");
                break;
            case Field::ResourceType:
                out.append("<d:resourcetype/>");
                break;
            case Field::Data:
                out.append("<c:calendar-data>");
                TDavXml::AppendBytes(out, data);
                out.append("</c:calendar-data>");
                break;
            }
        }
        out.append("</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>");
    }
    if (!plan.missing.isEmpty())
        out.append("<d:propstat><d:prop>")
            .append(plan.missing)
            .append("</d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>");
    out.append("</d:response>");
}

TDavReply TDavCalendar::propfind(const TDavRequest& request, const TTarget& target)
{
    const TDavXml::TAsked asked = TDavXml::Parse(request.body);
    if (!asked.error.isEmpty())
        return TDavReply::Text(400, QStringLiteral("The request is not well-formed XML: %1").arg(asked.error));
    if (!asked.root.isEmpty() && asked.root != QLatin1String("propfind"))
        return TDavReply::Text(400, QStringLiteral("A PROPFIND request holds a propfind element."));
    const QByteArray depth = request.header("depth").trimmed();
    const bool deeper = depth == "1" || depth.toLower() == "infinity";
    const QString name = user_.UserName();
    QByteArray responses;
    switch (target.kind) {
    case Kind::Root:
        responses = collectionResponse(Kind::Root, Root, asked.props, asked.allProps);
        break;
    case Kind::Principal:
        responses = collectionResponse(Kind::Principal, PrincipalPath(name), asked.props, asked.allProps);
        break;
    case Kind::Home:
        responses = collectionResponse(Kind::Home, HomePath(name), asked.props, asked.allProps);
        if (deeper)
            responses += collectionResponse(Kind::Calendar, CalendarPath(name), asked.props, asked.allProps);
        break;
    case Kind::Calendar: {
        responses = collectionResponse(Kind::Calendar, CalendarPath(name), asked.props, asked.allProps);
        if (!deeper)
            break;
        listAll(responses, planOf(asked.props, asked.allProps), asked.props, asked.allProps);
        break;
    }
    case Kind::Object: {
        bool series = false;
        const QString key = keyOf(target.name, &series);
        if (series) {
            SeriesRecord found;
            if (!readSeriesVisible(key, found))
                return noSuchEvent();
            responses = seriesResponse(key, request.path,
                                       asked.props.contains(TName{CalDav, QStringLiteral("calendar-data")}),
                                       asked.props, asked.allProps);
            break;
        }
        DayEntryRecord entry;
        if (!readVisible(key, entry))
            return noSuchEvent();
        TObject object{key, request.path, etagOf(entry, key), QByteArray()};
        if (asked.props.contains(TName{CalDav, QStringLiteral("calendar-data")}))
            object.data = dataOf(entry, key);
        responses = objectResponse(object, asked.props, asked.allProps);
        break;
    }
    default:
        return TDavReply::Text(404, QStringLiteral("There is nothing at %1.").arg(request.path));
    }
    return TDavXml::Multistatus(responses);
}

TDavReply TDavCalendar::get(const TTarget& target, bool head)
{
    bool isSeries = false;
    const QString key = keyOf(target.name, &isSeries);
    DayEntryRecord entry;
    SeriesRecord series;
    if (isSeries ? !readSeriesVisible(key, series) : !readVisible(key, entry))
        return noSuchEvent();
    TDavReply reply;
    reply.addHeader("Content-Type", "text/calendar; charset=utf-8; component=vevent");
    reply.addHeader("ETag", isSeries ? seriesEtag(key, series) : etagOf(entry, key));
    reply.body = isSeries ? seriesData(key, series) : dataOf(entry, key);
    if (head)
        reply.body.clear();
    return reply;
}

bool TDavCalendar::ownName(const QString& name) const
{
    const auto tenDigits = [](const QString& text) {
        bool number = false;
        text.toLongLong(&number);
        return number && text.size() == 10;
    };
    return tenDigits(name) || (name.startsWith(QLatin1String("series-")) && tenDigits(name.mid(7)))
        || (name.size() > 10 && name == TCalendarExport::Uid(name.left(10), identity_))
        || (name.size() > 17 && name == TCalendarExport::SeriesUid(name.mid(7, 10), identity_));
}

TDavReply TDavCalendar::put(const TDavRequest& request, const TTarget& target)
{
    bool isSeries = false;
    QString key = keyOf(target.name, &isSeries);
    // A name of Quorla's own stands for an object the user sees or for none:
    // nothing is added under it, so that one hidden from him answers as one
    // that is not there.
    DayEntryRecord shown;
    SeriesRecord shownSeries;
    if (ownName(target.name) && !(isSeries ? readSeriesVisible(key, shownSeries) : readVisible(key, shown)))
        return TDavReply::Text(403, QStringLiteral("%1 names no event of yours to change: a new event is added "
                                                   "under a name of its own.").arg(target.name));
    if (isSeries) {
        SeriesRecord series;
        if (seriesWriter() && seriesWriter()->ReadSeries(key, series))
            return putSeries(request, key);
        // A series deleted since: the name is free again.
        key.clear();
    }
    DayEntryRecord entry;
    const bool exists = readVisible(key, entry);
    if (std::optional<TDavReply> refused = preconditions(request, exists, entry, key))
        return *refused;

    TCalendarImport import(database_, userKey_, user_);
    // What it books is claimed and written here, under this service's rules.
    import.BookResources = false;
    TCalendarImport::TEvent event;
    if (auto refused = readBody(import, request.body, target.name + QStringLiteral(".ics"), event))
        return *refused;

    // An entry becomes a series on a workstation, where its assignees and
    // alarms are seen.
    if (exists && event.repeats)
        return notStored(QStringLiteral("a single event is made a repeating one on a workstation"));
    if (!exists)
        return add(request, target, key, import, event);
    return update(key, entry, event);
}

std::optional<TDavReply> TDavCalendar::preconditions(const TDavRequest& request, bool exists,
                                                     const DayEntryRecord& entry, const QString& key)
{
    const QByteArray ifMatch = request.header("if-match");
    if (exists && request.header("if-none-match").trimmed() == "*")
        return TDavReply::Text(412, QStringLiteral("The event exists already."));
    if (!ifMatch.isEmpty() && (!exists || !matches(ifMatch, etagOf(entry, key))))
        return changedSince();
    return std::nullopt;
}

TDavReply TDavCalendar::add(const TDavRequest& request, const TTarget& target, const QString& key,
                            TCalendarImport& import, const TCalendarImport::TEvent& event)
{
    DayEntryRecord entry;
    if (!key.isEmpty() && database_.DayEntries().GetEqual(entry.bytes(), TXIsamFile::PrimaryIndex, key))
        return TDavReply::Text(403, QStringLiteral("You may not change this event."));
    if (!(user_.Rights() & UserRecord::CanAddEntries))
        return TDavReply::Text(403, TCalendarImport::NoRightMessage(user_.FullName()) + QLatin1Char('.'));
    // The resources it names are held from this check until it is
    // stored and books them: never one booked twice.
    TRecordWriter records;
    TBookingWriter bookings(database_, records);
    std::optional<TBookingWriter::TClaim> claim;
    if (std::optional<TDavReply> refused = claimResources(bookings, event, claim))
        return *refused;
    const TCalendarImport::TOutcome outcome = import.Import(request.body, target.name + QStringLiteral(".ics"));
    if (!outcome.skipped.isEmpty())
        return notStored(outcome.skipped.first().reason);
    // Stored other than sent: no ETag, so that the client reads it back.
    const bool altered = !outcome.remarks.isEmpty();
    QString reasonMap;
    TXIsamFile* map = database_.ImportMap(reasonMap);
    ImportRecord made;
    if (map && TLookup::Equal(*map, made.bytes(), ImportRecord::SourceIndex,
                              TCalendarImport::SourceOf(userKey_, event.uid))
        && made.kind() == ImportRecord::Kind::Series)
        return addedSeries(event.uid, target.name, made.TargetKey(), altered);
    if (map && made.kind() == ImportRecord::Kind::Entry) {
        if (claim)
            bookings.Write(*claim, made.TargetKey());
        return addedEntry(event.uid, target.name, made.TargetKey(), altered);
    }
    return done(201);
}

TDavReply TDavCalendar::addedSeries(const QString& uid, const QString& name, const QString& seriesKey, bool altered)
{
    names_.Remember(uid, name, seriesKey, true);
    alarms_.reset();
    SeriesRecord series;
    if (!altered && readSeriesVisible(seriesKey, series))
        return done(201, seriesEtag(seriesKey, series));
    return done(201);
}

TDavReply TDavCalendar::addedEntry(const QString& uid, const QString& name, const QString& key, bool altered)
{
    names_.Remember(uid, name, key);
    uids_.reset();
    someUids_.clear();
    alarms_.reset();
    DayEntryRecord entry;
    if (!altered && readVisible(key, entry))
        return done(201, etagOf(entry, key));
    return done(201);
}

TDavReply TDavCalendar::update(const QString& key, DayEntryRecord& entry, const TCalendarImport::TEvent& event)
{
    if (!mayChange(entry))
        return TDavReply::Text(403, QStringLiteral("You may not change entries of other users."));
    TEventWriter writer(database_);
    std::optional<TRecordLock> lock;
    AlarmRecord alarm;
    bool hadAlarm = false;
    const QByteArray seen = etagOf(entry, key);
    const TEventWriter::Result opened = writer.openEntry(key, lock, entry, alarm, hadAlarm);
    if (opened == TEventWriter::Result::EntryLocked)
        return locked(writer.LockHolder());
    if (opened != TEventWriter::Result::Done)
        return noSuchEvent();
    // Read again under the lock: a change made meanwhile is not overwritten.
    if (etagOf(entry, key) != seen)
        return changedSince();

    const bool altered = fillFrom(entry, event) || !event.altered.isEmpty();
    const TEntryDetails before = TDetailsStore(database_).Entry(key);
    TEntryDetails details = TEventCodec::Onto(event.details, before);
    // The rooms it books, shown as its place, are no place of its own.
    if (before.location.isEmpty() && details.location == parties().Location({}, parties().Of(key)))
        details.location.clear();
    // The entry's alarm stays as it is for every assignee; a first alarm
    // goes to the assignees as a workstation gives it.
    const QString openedAlarm = hadAlarm ? alarm.AlarmTime() : QString();
    if (!hadAlarm) {
        database_.InitAlarmRecord(alarm);
        alarm.setFlags(event.alarm ? AlarmRecord::AlarmWanted : 0);
        alarm.setAlarmTime(RecordKey::format(event.alarm ? event.ringWall : event.wall));
    }
    TEventWriter::Result written = TEventWriter::Result::Done;
    try {
        written = writeChange(writer, key, entry, alarm, openedAlarm, details, resourcesNamed(event));
    } catch (const TBookingWriter::ERefused& e) {
        return bookingRefused(e.message());
    }
    if (written == TEventWriter::Result::AlarmLocked)
        return locked(writer.LockHolder());
    if (written == TEventWriter::Result::Gone)
        return noSuchEvent();
    if (written != TEventWriter::Result::Done)
        return changedSince();
    if (hadAlarm)
        if (std::optional<TDavReply> refused = ownAlarm(writer, key, entry, event))
            return *refused;
    alarms_.reset();
    DayEntryRecord stored;
    return done(204, !altered && readVisible(key, stored) ? etagOf(stored, key) : QByteArray());
}

bool TDavCalendar::fillFrom(DayEntryRecord& entry, const TCalendarImport::TEvent& event)
{
    entry.setStartTime(RecordKey::format(event.wall));
    entry.setFlags((entry.Flags() & ~(DayEntryRecord::UnTimed | DayEntryRecord::Private))
                   | (event.untimed ? DayEntryRecord::UnTimed : 0) | (event.isPrivate ? DayEntryRecord::Private : 0));
    entry.setDescription(event.text);
    if (event.category.isEmpty()) {
        entry.setCategoryKey(QString(RecordKey::None));
        return false;
    }
    loadNames();
    const QString before = entry.CategoryKey();
    entry.setCategoryKey(QString(RecordKey::None));
    for (auto it = categories_->constBegin(); it != categories_->constEnd(); ++it)
        if (it.value().compare(event.category, Qt::CaseInsensitive) == 0)
            entry.setCategoryKey(it.key());
    // A category not known here: the entry keeps the one it had.
    if (!RecordKey::isNone(entry.CategoryKey()))
        return false;
    entry.setCategoryKey(before);
    return true;
}

TEventWriter::Result TDavCalendar::writeChange(TEventWriter& writer, const QString& key, const DayEntryRecord& entry,
                                               AlarmRecord& alarm, const QString& openedAlarm,
                                               const TEntryDetails& details, const QStringList& resources)
{
    TSeriesWriter series(database_);
    SeriesLinkRecord link;
    // Those it books stay as they are, over its new time, unless the client
    // named others.
    std::optional<QStringList> booked;
    if (resources != parties().Of(key))
        booked = resources;
    if (!database_.Series() || !series.LinkOf(key, link))
        return writer.updateEntryWithAlarms(key, entry, alarm, openedAlarm, details, booked);
    switch (series.ChangeOne(key, entry, alarm, openedAlarm, details).result) {
    case TSeriesWriter::Result::Done:
        return TEventWriter::Result::Done;
    case TSeriesWriter::Result::Gone:
        return TEventWriter::Result::Gone;
    default:
        // The series being changed elsewhere, or an alarm open there.
        return TEventWriter::Result::AlarmLocked;
    }
}

std::optional<TDavReply> TDavCalendar::ownAlarm(TEventWriter& writer, const QString& key, const DayEntryRecord& entry,
                                                const TCalendarImport::TEvent& event)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord mine;
    QString mineKey;
    for (bool more = TLookup::Equal(alarms, mine.bytes(), AlarmRecord::DayEntryKeyIndex, key); more;
         more = TLookup::Next(alarms, mine.bytes(), AlarmRecord::DayEntryKeyIndex, key, TXIsamFile::ScanPrefix)) {
        if (mine.UserKey() == userKey_) {
            mineKey = alarms.CurrentKey();
            break;
        }
    }
    const QString ring = RecordKey::format(event.ringWall);
    if (mineKey.isEmpty() && event.alarm && entry.AssigneeKeys().contains(userKey_)) {
        // Others have alarms, he had none (switched off): the VALARM
        // becomes his own. Alarms are the assignees' only, as a
        // workstation keeps them.
        writer.addOwnAlarm(key, userKey_, ring);
    } else if (!mineKey.isEmpty()) {
        TEventWriter::Result own = TEventWriter::Result::Done;
        if (!event.alarm)
            own = writer.switchOffAlarm(mineKey, mine);
        else if (mine.AlarmTime() != ring)
            own = writer.snoozeAlarm(mineKey, mine, ring);
        if (own == TEventWriter::Result::EntryLocked || own == TEventWriter::Result::AlarmLocked)
            return locked(writer.LockHolder());
    }
    return std::nullopt;
}

TDavReply TDavCalendar::putSeries(const TDavRequest& request, const QString& seriesKey)
{
    SeriesRecord series;
    if (!readSeriesVisible(seriesKey, series))
        return TDavReply::Text(403, QStringLiteral("You may not change this event."));
    if (request.header("if-none-match").trimmed() == "*")
        return TDavReply::Text(412, QStringLiteral("The event exists already."));
    const QByteArray ifMatch = request.header("if-match");
    if (!ifMatch.isEmpty() && !matches(ifMatch, seriesEtag(seriesKey, series)))
        return changedSince();
    if (series.OwnerKey() != userKey_ && !(user_.Rights() & UserRecord::CanModifyOthersEntries))
        return TDavReply::Text(403, QStringLiteral("You may not change entries of other users."));
    TCalendarImport import(database_, userKey_, user_);
    // What it books is claimed and written here, under this service's rules.
    import.BookResources = false;
    TCalendarImport::TEvent event;
    if (auto refused = readBody(import, request.body, QStringLiteral("The event"), event))
        return *refused;
    if (!event.repeats)
        return notStored(QStringLiteral("a repeating event is made a single one on a workstation"));
    // An occurrence open on a workstation: nothing is changed. Their locks
    // are held from this check until the import below is done with them, so
    // that none is opened elsewhere in between. The writers work through the
    // same dataset and take these locks as their own (a record lock fails
    // only for another object, process or workstation); each lets go of one
    // once its occurrence is written. (A writer's own look before writing,
    // HeldOccurrences::Refuse, would let go of them all before its writes.)
    std::vector<TRecordLock> held;
    for (const auto& [linkKey, link] : seriesWriter()->Links(seriesKey)) {
        if (RecordKey::isNone(link.EntryKey()) || (link.Flags() & SeriesLinkRecord::Deleted))
            continue;
        held.emplace_back(database_.DayEntries(), link.EntryKey());
        if (!held.back().Held())
            return locked(database_.Holders().HolderOf(database_.DayEntries(), link.EntryKey()));
    }
    // The import changes the series it knows under the client's UID: the
    // whole series (its rule and template), each RECURRENCE-ID's occurrence
    // alone and each EXDATE's day deleted.
    QString reasonMap;
    TXIsamFile* map = database_.ImportMap(reasonMap);
    if (!map)
        return TDavReply::Text(503, reasonMap);
    ImportRecord known;
    ImportRecord record;
    record.setSource(TCalendarImport::SourceOf(userKey_, event.uid));
    record.setKind(ImportRecord::Kind::Series);
    record.setTargetKey(seriesKey);
    const bool mapped = TLookup::Equal(*map, known.bytes(), ImportRecord::SourceIndex, record.Source())
        ? (known.kind() == ImportRecord::Kind::Series && known.TargetKey() == seriesKey)
            || map->Update(record.bytes(), map->CurrentKey())
        : map->Insert(record.bytes());
    if (!mapped)
        throw EQuorla(map->ErrorText());
    const TCalendarImport::TOutcome outcome = import.Import(request.body, QStringLiteral("event.ics"));
    alarms_.reset();
    if (outcome.held)
        return locked(outcome.holder);
    if (!outcome.skipped.isEmpty())
        return notStored(outcome.skipped.first().reason);
    const bool altered = !outcome.remarks.isEmpty();
    return done(204, !altered && readSeriesVisible(seriesKey, series) ? seriesEtag(seriesKey, series) : QByteArray());
}

TDavReply TDavCalendar::removeSeries(const TDavRequest& request, const QString& seriesKey)
{
    SeriesRecord series;
    if (!readSeriesVisible(seriesKey, series))
        return noSuchEvent();
    if (series.OwnerKey() != userKey_ && !(user_.Rights() & UserRecord::CanModifyOthersEntries))
        return TDavReply::Text(403, QStringLiteral("You may not delete entries of other users."));
    const QByteArray ifMatch = request.header("if-match");
    if (!ifMatch.isEmpty() && !matches(ifMatch, seriesEtag(seriesKey, series)))
        return changedSince();
    const TSeriesWriter::TOutcome outcome = seriesWriter()->Delete(seriesKey, TSeriesWriter::Scope::All, QDate(),
                                                                   TSeriesWriter::HeldOccurrences::Refuse);
    switch (outcome.result) {
    case TSeriesWriter::Result::Done:
        return done(204);
    case TSeriesWriter::Result::Held:
        return locked(outcome.held.isEmpty() ? QString() : outcome.held.first().holder);
    case TSeriesWriter::Result::SeriesLocked:
        return locked(QString());
    case TSeriesWriter::Result::Hidden:
        return TDavReply::Text(403, QStringLiteral("The series holds a private event of another user."));
    default:
        return noSuchEvent();
    }
}

TDavReply TDavCalendar::remove(const TDavRequest& request, const TTarget& target)
{
    bool isSeries = false;
    const QString key = keyOf(target.name, &isSeries);
    if (isSeries)
        return removeSeries(request, key);
    DayEntryRecord entry;
    if (!readVisible(key, entry))
        return noSuchEvent();
    if (!mayChange(entry))
        return TDavReply::Text(403, QStringLiteral("You may not delete entries of other users."));
    const QByteArray ifMatch = request.header("if-match");
    if (!ifMatch.isEmpty() && !matches(ifMatch, etagOf(entry, key)))
        return changedSince();
    TEventWriter writer(database_);
    switch (writer.deleteEntryWithAlarms(key, entry.Description())) {
    case TEventWriter::Result::Done:
        return done(204);
    case TEventWriter::Result::EntryLocked:
    case TEventWriter::Result::AlarmLocked:
        return locked(writer.LockHolder());
    case TEventWriter::Result::Changed:
        return changedSince();
    case TEventWriter::Result::Gone:
        break;
    }
    return noSuchEvent();
}
