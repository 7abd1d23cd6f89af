// The calendar's REPORTs: calendar-query, calendar-multiget and
// sync-collection (RFC 4791 7.8, 7.9; RFC 6578).

#include "TDavCalendar.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TDavExpand.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TDavXml.h"
#include "TDetailsStore.h"
#include "TEntryQuery.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TStamp.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <QUrl>

#include <vector>

namespace {

const QString TokenPrefix = QStringLiteral("urn:x-quorla:sync:");
constexpr qint64 SecondsPerDay = 86400;
// How long a timed entry is said to last, as the export says it.
constexpr qint64 TimedLength = 30 * 60;
// A sync reads the trail back this far before the token's moment, for the
// records of workstations whose clocks are behind.
constexpr qint64 ClockSlack = 600;
constexpr int TrailPage = 500;
// Entries of a listing whose details are read at once.
constexpr std::size_t DetailsBatch = 512;

using TName = TDavCalendar::TName;

// The date of wall-clock seconds (the office's time written as if UTC).
QDate dateOfWall(qint64 wall)
{
    return QDateTime::fromSecsSinceEpoch(wall, QTimeZone::utc()).date();
}

QByteArray gone(const QString& path)
{
    return "<d:response>" + TDavXml::Href(path) + "<d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
}

bool asksData(const TDavXml::TAsked& asked)
{
    return asked.props.contains(TName{TDavXml::CalDav, QStringLiteral("calendar-data")});
}

// A sync token: "<trail key>.<moment>" of the latest trail record, then
// "." and the office's zone mark (missing from tokens given before zones
// were marked: those are taken as of the zone now).
struct TToken
{
    qint64 key = 0;
    qint64 when = 0;
    QString zone;
    bool valid = false;
};

TToken tokenOf(const QString& text)
{
    TToken token;
    if (!text.startsWith(TokenPrefix))
        return token;
    const QStringList parts = text.mid(TokenPrefix.size()).split(QLatin1Char('.'));
    if (parts.size() != 2 && parts.size() != 3)
        return token;
    bool keyOk = false;
    bool whenOk = false;
    token.key = parts[0].toLongLong(&keyOk);
    token.when = parts[1].toLongLong(&whenOk);
    token.zone = parts.value(2);
    token.valid = keyOk && whenOk;
    return token;
}

} // namespace

bool TDavCalendar::sawEither(const QString& summary) const
{
    // The mark names who could see both sides; one made private was public
    // before, seen by everybody.
    const std::optional<QStringList> readers = TChangeSummary::ReadersIn(summary);
    return !readers || readers->contains(userKey_) || summary.section(QStringLiteral("; "), 1, 1) == QLatin1String("made private");
}

QString TDavCalendar::latestChange()
{
    const QList<TChangeTrail::TEntry> latest = database_.Trail().Latest(TChangeTrail::TFilter{}, QString(), 1);
    if (latest.isEmpty())
        return QStringLiteral("0.0");
    return latest.first().key + QLatin1Char('.') + latest.first().when;
}

QString TDavCalendar::zoneMark() const
{
    return QString::fromLatin1(QCryptographicHash::hash(zone_.id(), QCryptographicHash::Sha1).toHex().left(8));
}

QByteArray TDavCalendar::syncToken()
{
    return (TokenPrefix + latestChange() + QLatin1Char('.') + zoneMark()).toUtf8();
}

TDavReply TDavCalendar::report(const TDavRequest& request)
{
    const TDavXml::TAsked asked = TDavXml::Parse(request.body);
    if (!asked.error.isEmpty())
        return TDavReply::Text(400, QStringLiteral("The request is not well-formed XML: %1").arg(asked.error));
    if (asked.expandStart.isValid())
        expand_.emplace(asked.expandStart.toSecsSinceEpoch(), asked.expandEnd.toSecsSinceEpoch());
    if (asked.root == QLatin1String("calendar-query")) {
        if (asked.otherComponent)
            return TDavXml::Multistatus(QByteArray());
        return asked.uid.isEmpty() ? calendarQuery(asked) : queryByUid(asked);
    }
    if (asked.root == QLatin1String("calendar-multiget"))
        return multiget(asked);
    if (asked.root == QLatin1String("sync-collection"))
        return syncCollection(asked);
    return TDavXml::Error(403, "<d:supported-report/>",
                          QStringLiteral("Reports here are calendar-query, calendar-multiget and sync-collection."));
}

TDavReply TDavCalendar::queryByUid(const TDavXml::TAsked& asked)
{
    bool series = false;
    const QString key = keyOf(asked.uid, &series);
    DayEntryRecord entry;
    SeriesRecord found;
    QByteArray responses;
    if (series && readSeriesVisible(key, found))
        responses = seriesResponse(key, seriesPath(key), asksData(asked), asked.props, asked.allProps);
    else if (!series && readVisible(key, entry))
        responses = listed(entry, key, QString(), asksData(asked), asked.props, asked.allProps);
    return TDavXml::Multistatus(responses);
}

void TDavCalendar::wallRange(qint64 startUtc, qint64 endUtc, qint64& from, qint64& to) const
{
    const auto wallOf = [this](qint64 utc) {
        return utc + zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc()));
    };
    // An entry that starts earlier on the range's first day may still run
    // into it (an hour more for a change of the offset in between): the
    // whole day is read, and the entries begun on earlier days come from
    // their details (ReachingInto). An all-day one is its date, compared as
    // a floating day.
    from = std::max<qint64>(0, std::min(DayOf(wallOf(startUtc) - 3600), DayOf(startUtc)));
    to = std::min<qint64>(9999999999, std::max(wallOf(endUtc) + 3600, DayOf(endUtc - 1) + SecondsPerDay - 1));
}

bool TDavCalendar::overlaps(const DayEntryRecord& entry, const TEntryDetails& details, qint64 startUtc,
                            qint64 endUtc)
{
    const qint64 wall = RecordKey::parse(entry.StartTime());
    // A date is the whole day wherever the reader is: compared as a date in
    // UTC, a floating day.
    const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
    const qint64 begin = untimed ? DayOf(wall) : momentOfWall(wall);
    const qint64 timed = details.durationSeconds > 0 ? details.durationSeconds : TimedLength;
    const qint64 length = untimed ? SecondsPerDay * std::max(details.days, 1) : timed;
    return begin < endUtc && begin + length > startUtc;
}

TDavReply TDavCalendar::calendarQuery(const TDavXml::TAsked& asked)
{
    qint64 from = 0;
    qint64 to = 9999999999;
    const bool ranged = asked.start.isValid();
    const qint64 startUtc = ranged ? asked.start.toSecsSinceEpoch() : 0;
    const qint64 endUtc = ranged ? asked.end.toSecsSinceEpoch() : 0;
    if (ranged)
        wallRange(startUtc, endUtc, from, to);
    const TPlan plan = planOf(asked.props, asked.allProps);
    QByteArray responses = TDavXml::Opening();
    const TFits fits = [&](const DayEntryRecord& entry, const TEntryDetails& details) {
        return !ranged || overlaps(entry, details, startUtc, endUtc);
    };
    const auto reaching = ranged ? TDetailsStore(database_).ReachingEntries(dateOfWall(from), dateOfWall(to))
                                 : QList<std::pair<QString, DayEntryRecord>>();
    listRange(
        responses, from, to, [&](const DayEntryRecord& entry) { return visible(entry); }, plan, asked.props,
        asked.allProps, fits, reaching);
    listUnmade(responses, from, to, plan.withData, asked.props, asked.allProps);
    return TDavXml::Closed(std::move(responses));
}

TDavReply TDavCalendar::multiget(const TDavXml::TAsked& asked)
{
    QStringList paths;
    QStringList keys;
    QList<bool> isSeries;
    for (const QString& href : asked.hrefs) {
        paths << QUrl(QUrl::fromPercentEncoding(href.toUtf8())).path();
        const TTarget target = targetOf(paths.last());
        bool series = false;
        keys << (target.kind == Kind::Object ? keyOf(target.name, &series) : QString());
        isSeries << series;
    }
    QStringList entryKeys;
    for (qsizetype i = 0; i < keys.size(); ++i)
        if (!isSeries[i] && !keys[i].isEmpty())
            entryKeys << keys[i];
    readDetails(entryKeys);
    QByteArray responses;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString& path = paths[i];
        const QString& key = keys[i];
        DayEntryRecord entry;
        if (isSeries[i])
            responses += seriesResponse(key, path, asksData(asked), asked.props, asked.allProps);
        else if (readVisible(key, entry))
            responses += listed(entry, key, path, asksData(asked), asked.props, asked.allProps);
        else
            responses += gone(path);
    }
    return TDavXml::Multistatus(responses);
}

void TDavCalendar::listRange(QByteArray& out, qint64 from, qint64 to,
                             const std::function<bool(const DayEntryRecord&)>& wanted, const TPlan& plan,
                             const QList<TName>& props, bool allProps, const TFits& fits,
                             const QList<std::pair<QString, DayEntryRecord>>& reaching)
{
    std::vector<std::pair<DayEntryRecord, QString>> pending;
    const auto flush = [&] {
        // An occurrence is served as its series, which reads its own; its
        // length, where a range asks, is its template's.
        QStringList keys;
        for (const auto& [entry, key] : pending)
            if (fits || seriesOf(key).isEmpty())
                keys << key;
        readDetails(keys);
        for (const auto& [entry, key] : pending)
            if (!fits || fits(entry, detailsOf(key)))
                list(out, entry, key, plan, props, allProps);
        pending.clear();
    };
    const auto take = [&](const DayEntryRecord& entry, const QString& key) {
        if (!wanted(entry))
            return;
        pending.emplace_back(entry, key);
        if (pending.size() >= DetailsBatch)
            flush();
    };
    TEntryQuery::Read(database_.DayEntries(), RecordKey::format(from), RecordKey::format(to), take);
    for (const auto& [key, entry] : reaching)
        take(entry, key);
    flush();
}

void TDavCalendar::listAll(QByteArray& out, const TPlan& plan, const QList<TName>& props, bool allProps)
{
    listRange(
        out, 0, 9999999999, [this](const DayEntryRecord& entry) { return visible(entry); }, plan, props, allProps);
    listUnmade(out, 0, 9999999999, plan.withData, props, allProps);
}

TDavReply TDavCalendar::syncCollection(const TDavXml::TAsked& asked)
{
    const QByteArray invalid = "<d:valid-sync-token/>";
    if (!database_.Trail().Available())
        return TDavXml::Error(403, invalid, QStringLiteral("This database keeps no change trail: read the whole calendar."));
    const QByteArray tail = "<d:sync-token>" + TDavXml::Escaped(QString::fromUtf8(syncToken())) + "</d:sync-token>";
    if (asked.syncToken.isEmpty()) {
        QByteArray responses = TDavXml::Opening();
        listAll(responses, planOf(asked.props, asked.allProps), asked.props, asked.allProps);
        return TDavXml::Closed(std::move(responses), tail);
    }
    const TToken since = tokenOf(asked.syncToken);
    if (!since.valid)
        return TDavXml::Error(403, invalid, QStringLiteral("The sync token is not one of this calendar's."));
    // Older than what the trail keeps: deletions since may be gone from it.
    // (A token of an empty trail, "0.0", has everything since.)
    if (since.key != 0
        && since.when < TStamp().Seconds() - qint64(database_.Trail().DaysKept()) * SecondsPerDay + ClockSlack)
        return TDavXml::Error(403, invalid, QStringLiteral("The sync token is older than the change trail: read "
                                                           "the whole calendar."));
    TChanges changes;
    // Another zone moves every object's times.
    changes.everything = !since.zone.isEmpty() && since.zone != zoneMark();
    readChanges(changes, since.key, since.when);
    addCategoryChanges(changes);
    return TDavXml::Multistatus(changedResponses(changes, asked), tail);
}

void TDavCalendar::readChanges(TChanges& changes, qint64 sinceKey, qint64 sinceWhen)
{
    // The trail, latest first, back to a little before the token's moment;
    // what was recorded after the token's record is what changed. A record
    // that tells of an entry he did not see on either side of the change is
    // not his to know of (an administrator sees every one).
    TChangeTrail::TFilter filter;
    filter.from = RecordKey::format(std::max<qint64>(0, sinceWhen - ClockSlack));
    const bool administers = (user_.Rights() & UserRecord::CanAdminister) != 0;
    QString after;
    for (;;) {
        const QList<TChangeTrail::TEntry> page = database_.Trail().Latest(filter, after, TrailPage);
        for (const TChangeTrail::TEntry& change : page) {
            if (RecordKey::parse(change.key) <= sinceKey || change.subject.isEmpty())
                continue;
            const QChar kind = change.subject.front();
            QSet<QString>* subjects = kind == QLatin1Char('E') ? &changes.entries
                : kind == QLatin1Char('S')                    ? &changes.series
                : kind == QLatin1Char('C')                    ? &changes.categories
                                                              : nullptr;
            if (!subjects)
                continue;
            subjects->insert(change.subject.mid(1));
            if (administers || sawEither(change.summary))
                changes.known.insert(change.subject);
        }
        if (page.size() < TrailPage)
            break;
        after = page.last().position;
    }
}

void TDavCalendar::addCategoryChanges(TChanges& changes)
{
    // A category renamed or deleted: every object of it reads otherwise.
    if (changes.categories.isEmpty() || changes.everything)
        return;
    TEntryQuery::Read(database_.DayEntries(), RecordKey::format(0), RecordKey::format(9999999999),
                      [&](const DayEntryRecord& entry, const QString& key) {
                          if (changes.categories.contains(entry.CategoryKey()) && visible(entry))
                              changes.entries.insert(key);
                      });
    if (!seriesWriter())
        return;
    SeriesRecord series;
    TLookup::Each(*database_.Series(), series.bytes(), [&](const QString& key) {
        if (changes.categories.contains(series.CategoryKey()))
            changes.series.insert(key);
    });
}

QByteArray TDavCalendar::changedResponses(const TChanges& changes, const TDavXml::TAsked& asked)
{
    const TPlan plan = planOf(asked.props, asked.allProps);
    QByteArray responses;
    if (changes.everything)
        listAll(responses, plan, asked.props, asked.allProps);
    // A changed occurrence is a change of its series' object, where the user
    // may see the occurrence.
    QSet<QString> series = changes.series;
    QStringList keys;
    for (const QString& key : changes.entries) {
        const QString seriesKey = seriesOf(key);
        DayEntryRecord entry;
        if (seriesKey.isEmpty())
            keys << key;
        else if (changes.known.contains(TChangeTrail::EntrySubject(key)) || readVisible(key, entry))
            series.insert(seriesKey);
    }
    keys.sort();
    readDetails(keys);
    for (const QString& key : std::as_const(keys)) {
        DayEntryRecord entry;
        if (readVisible(key, entry)) {
            if (!changes.everything)
                list(responses, entry, key, plan, asked.props, asked.allProps);
        } else if (changes.known.contains(TChangeTrail::EntrySubject(key))) {
            responses += gone(objectPath(key));
        }
    }
    QStringList seriesKeys(series.begin(), series.end());
    seriesKeys.sort();
    for (const QString& seriesKey : std::as_const(seriesKeys)) {
        SeriesRecord found;
        if (readSeriesVisible(seriesKey, found)) {
            if (!listedSeries_.contains(seriesKey))
                responses += seriesResponse(seriesKey, seriesPath(seriesKey), plan.withData, asked.props, asked.allProps);
            listedSeries_.insert(seriesKey);
        } else if (changes.known.contains(TChangeTrail::SeriesSubject(seriesKey))) {
            responses += gone(seriesPath(seriesKey));
        }
    }
    return responses;
}
