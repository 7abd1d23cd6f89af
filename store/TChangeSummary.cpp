#include "TChangeSummary.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EStamp.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TTextCapacity.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

const QString Separator = QStringLiteral("; ");
const QString Ellipsis = QStringLiteral("…");
// Room a quoted description takes at most in a summary, so that the rest of
// what changed still fits.
constexpr int DescriptionRoom = 60;

QString formatted(const QString& key, const QString& picture)
{
    try {
        TStamp stamp;
        stamp.SetSeconds(qint32(RecordKey::parse(key)));
        return TStamp::FormatDateTime(picture, stamp.AsDateTime());
    } catch (const EStamp&) {
        return QStringLiteral("?");
    }
}

QString arrow(const QString& what, const QString& from, const QString& to)
{
    return QStringLiteral("%1 %2 → %3").arg(what, from, to);
}

QString rightsText(qint32 rights)
{
    QStringList names;
    if (rights & UserRecord::CanAdminister)
        names << QStringLiteral("administer");
    if (rights & UserRecord::CanAddEntries)
        names << QStringLiteral("add");
    if (rights & UserRecord::CanModifyOthersEntries)
        names << QStringLiteral("modify others'");
    if (rights & UserRecord::CanAddEntriesForOthers)
        names << QStringLiteral("add for others");
    return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(','));
}

const QString Mark = QStringLiteral("private");
const QString MarkTo = QStringLiteral("private to ");

// Who may see a record with these assignees without administering: its
// assignees when it is private; nothing (everybody) when it is not.
std::optional<QSet<qint64>> readersOf(bool isPrivate, const QStringList& assignees)
{
    if (!isPrivate)
        return std::nullopt;
    QSet<qint64> keys;
    for (const QString& key : assignees)
        if (!RecordKey::isNone(key))
            keys.insert(RecordKey::parse(key));
    return keys;
}

std::optional<QSet<qint64>> readersOf(const DayEntryRecord& entry)
{
    return readersOf((entry.Flags() & DayEntryRecord::Private) != 0, entry.AssigneeKeys());
}

// A repeating event's template as its occurrences are seen; none for a
// missing side.
std::optional<QSet<qint64>> readersOf(const SeriesRecord* series)
{
    return series ? readersOf((series->Flags() & SeriesRecord::Private) != 0, series->AssigneeKeys()) : std::nullopt;
}

// The part that says a change of privacy; none when there was none.
QStringList privacyChange(bool before, bool after)
{
    if (before == after)
        return {};
    return {after ? QStringLiteral("made private") : QStringLiteral("made public")};
}

// The readers mark of a change between two states (a missing side: none),
// as the parts a summary opens with; none when the entry was public on both.
// The readers are those who could see both sides.
QStringList readersMark(const std::optional<QSet<qint64>>& before, const std::optional<QSet<qint64>>& after)
{
    if (!before && !after)
        return {};
    const QSet<qint64> both = before && after ? *before & *after : before ? *before : *after;
    QList<qint64> sorted(both.begin(), both.end());
    std::sort(sorted.begin(), sorted.end());
    QStringList numbers;
    for (qint64 key : sorted)
        numbers << QString::number(key);
    const QString mark = MarkTo + numbers.join(QLatin1Char(','));
    return {!numbers.isEmpty() && TTextCapacity::fits(mark, TChangeSummary::MarkRoom) ? mark : Mark};
}

} // namespace

TChangeSummary::TChangeSummary(TQuorlaDB& database)
    : database_(database)
{
}

QString TChangeSummary::TimeOf(const QString& key)
{
    return formatted(key, QStringLiteral("hh:nn"));
}

QString TChangeSummary::MomentOf(const QString& key)
{
    return formatted(key, QStringLiteral("dd/mm/yy hh:nn"));
}

QString TChangeSummary::Join(const QStringList& parts, int capacity)
{
    QString joined;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString next = joined.isEmpty() ? parts[i] : joined + Separator + parts[i];
        // The last part needs no room for the mark of those left out.
        const int room = i + 1 == parts.size() ? capacity : capacity - TTextCapacity::bytes(Separator + Ellipsis);
        if (TTextCapacity::fits(next, room)) {
            joined = next;
            continue;
        }
        return joined.isEmpty() ? Ellipsis : joined + Separator + Ellipsis;
    }
    return joined;
}

QString TChangeSummary::Quoted(const QString& text, int capacity)
{
    const QString whole = QStringLiteral("“%1”").arg(text);
    if (TTextCapacity::fits(whole, capacity))
        return whole;
    const int room = capacity - TTextCapacity::bytes(QStringLiteral("“…”"));
    return QStringLiteral("“%1…”").arg(TTextCapacity::cut(text, std::max(room, 0)));
}

QString TChangeSummary::ForAssignees(const QStringList& keys)
{
    QStringList names;
    for (const QString& key : keys)
        names << UserNamed(key);
    return names.isEmpty() ? QString() : QStringLiteral("for ") + names.join(QLatin1Char(','));
}

QString TChangeSummary::UserNamed(const QString& key)
{
    const auto known = userNames_.constFind(key);
    if (known != userNames_.constEnd())
        return *known;
    UserRecord user;
    if (RecordKey::isNone(key) || !database_.Users().GetEqual(user.bytes(), TXIsamFile::PrimaryIndex, key))
        return key;
    const QString name
        = !user.Abbreviation().isEmpty() ? user.Abbreviation() : !user.FullName().isEmpty() ? user.FullName() : key;
    userNames_.insert(key, name);
    return name;
}

QString TChangeSummary::CategoryNamed(const QString& key)
{
    CategoryRecord category;
    if (RecordKey::isNone(key))
        return QStringLiteral("none");
    if (database_.Categories().GetEqual(category.bytes(), TXIsamFile::PrimaryIndex, key))
        return Quoted(category.Description(), 34);
    return key;
}

QString TChangeSummary::Moment(const DayEntryRecord& entry)
{
    if (entry.Flags() & DayEntryRecord::UnTimed)
        return formatted(entry.StartTime(), QStringLiteral("dd/mm/yy")) + QStringLiteral(" all day");
    return MomentOf(entry.StartTime());
}

QString TChangeSummary::Entry(const DayEntryRecord& entry, const std::optional<QString>& alarmTime)
{
    QStringList parts = readersMark(readersOf(entry), std::nullopt);
    parts << Quoted(entry.Description(), DescriptionRoom) << Moment(entry);
    if (const QString assignees = ForAssignees(entry.AssigneeKeys()); !assignees.isEmpty())
        parts << assignees;
    if (alarmTime)
        parts << QStringLiteral("alarm ") + TimeOf(*alarmTime);
    return Join(parts, TrailRecord::SummaryCapacity);
}

QString TChangeSummary::EntryChanged(const DayEntryRecord& before, const std::optional<QString>& alarmBefore,
                                     const DayEntryRecord& after, const std::optional<QString>& alarmAfter)
{
    QStringList parts = readersMark(readersOf(before), readersOf(after));
    const qsizetype marked = parts.size();
    parts << privacyChange(before.Flags() & DayEntryRecord::Private, after.Flags() & DayEntryRecord::Private);
    const bool untimedBefore = before.Flags() & DayEntryRecord::UnTimed;
    const bool untimedAfter = after.Flags() & DayEntryRecord::UnTimed;
    if (before.StartTime() != after.StartTime() || untimedBefore != untimedAfter) {
        const bool sameDay = RecordKey::parse(before.StartTime()) / 86400 == RecordKey::parse(after.StartTime()) / 86400;
        if (sameDay && !untimedBefore && !untimedAfter)
            parts << arrow(QStringLiteral("time"), TimeOf(before.StartTime()), TimeOf(after.StartTime()));
        else
            parts << arrow(QStringLiteral("date"), Moment(before), Moment(after));
    }
    if (before.Description() != after.Description())
        parts << QStringLiteral("description ") + Quoted(after.Description(), DescriptionRoom);
    if (before.CategoryKey() != after.CategoryKey())
        parts << arrow(QStringLiteral("category"), CategoryNamed(before.CategoryKey()), CategoryNamed(after.CategoryKey()));
    if (before.OwnerKey() != after.OwnerKey())
        parts << arrow(QStringLiteral("owner"), UserNamed(before.OwnerKey()), UserNamed(after.OwnerKey()));
    const QStringList was = before.AssigneeKeys();
    const QStringList now = after.AssigneeKeys();
    for (const QString& key : now)
        if (!was.contains(key))
            parts << QStringLiteral("assignee added: ") + UserNamed(key);
    for (const QString& key : was)
        if (!now.contains(key))
            parts << QStringLiteral("assignee removed: ") + UserNamed(key);
    if (alarmBefore && !alarmAfter)
        parts << QStringLiteral("alarm off");
    else if (!alarmBefore && alarmAfter)
        parts << QStringLiteral("alarm on ") + TimeOf(*alarmAfter);
    else if (alarmBefore && alarmAfter && *alarmBefore != *alarmAfter)
        parts << arrow(QStringLiteral("alarm"), TimeOf(*alarmBefore), TimeOf(*alarmAfter));
    if (parts.size() == marked)
        parts << QStringLiteral("no change");
    return Join(parts, TrailRecord::SummaryCapacity);
}

QString TChangeSummary::OfEntry(const DayEntryRecord& entry, const QString& words)
{
    return Join(readersMark(readersOf(entry), std::nullopt) << words, TrailRecord::SummaryCapacity);
}

QString TChangeSummary::OfSeries(const SeriesRecord* before, const SeriesRecord* after, const QString& words)
{
    QStringList parts = readersMark(readersOf(before), readersOf(after));
    if (before && after)
        parts << privacyChange(before->Flags() & SeriesRecord::Private, after->Flags() & SeriesRecord::Private);
    // The words are one part, which the trail shortens at its end as needed.
    return (parts << words).join(Separator);
}

QString TChangeSummary::Alarm(const AlarmRecord& alarm, const QString& time)
{
    const QString whose = QStringLiteral("alarm of ") + UserNamed(alarm.UserKey());
    if (time.isEmpty())
        return Join({whose + QStringLiteral(" at ") + TimeOf(alarm.AlarmTime())}, TrailRecord::SummaryCapacity);
    return Join({arrow(whose, TimeOf(alarm.AlarmTime()), TimeOf(time))}, TrailRecord::SummaryCapacity);
}

QStringList TChangeSummary::Named(const UserRecord& user)
{
    return {user.UserName(), Quoted(user.FullName(), 40)};
}

QString TChangeSummary::User(const UserRecord& user)
{
    return Join(Named(user) << QStringLiteral("rights ") + rightsText(user.Rights()), TrailRecord::SummaryCapacity);
}

QString TChangeSummary::UserChanged(const UserRecord& before, const UserRecord& after)
{
    // Named as he is from the change on: the trail keeps naming him after he
    // is renamed again or removed.
    QStringList parts = Named(after);
    if (before.UserName() != after.UserName())
        parts << arrow(QStringLiteral("user name"), before.UserName(), after.UserName());
    if (before.FullName() != after.FullName())
        parts << arrow(QStringLiteral("full name"), Quoted(before.FullName(), 34), Quoted(after.FullName(), 34));
    if (before.Abbreviation() != after.Abbreviation())
        parts << arrow(QStringLiteral("abbreviation"), before.Abbreviation(), after.Abbreviation());
    // A password is never written into the trail, only that it changed.
    if (before.Password() != after.Password())
        parts << QStringLiteral("password changed");
    if (before.Rights() != after.Rights())
        parts << arrow(QStringLiteral("rights"), rightsText(before.Rights()), rightsText(after.Rights()));
    if (parts.size() == 2)
        parts << QStringLiteral("no change");
    return Join(parts, TrailRecord::SummaryCapacity);
}

std::optional<QStringList> TChangeSummary::ReadersIn(const QString& summary)
{
    const QString first = summary.section(Separator, 0, 0);
    if (first == Mark)
        return QStringList();
    if (!first.startsWith(MarkTo))
        return std::nullopt;
    QStringList keys;
    for (const QString& number : first.mid(MarkTo.size()).split(QLatin1Char(','))) {
        const qint64 key = RecordKey::parse(number);
        // A mark spoilt by hand names nobody it cannot read.
        if (key > 0)
            keys << RecordKey::format(key);
    }
    return keys;
}

QString TChangeSummary::Shown(const QString& summary)
{
    if (!ReadersIn(summary))
        return summary;
    const qsizetype end = summary.indexOf(Separator);
    return end < 0 ? Mark : Mark + summary.mid(end);
}

std::optional<QString> TChangeSummary::NameIn(const QString& summary)
{
    // "<user name>; “<full name>”; ..." - the user name holds no ";", and an
    // empty one leaves no part of its own.
    static const QRegularExpression named(QStringLiteral("^(?:[^;]*; )?“(.*?)”(?:; |$)"));
    const QRegularExpressionMatch match = named.match(summary);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}
