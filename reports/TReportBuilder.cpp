#include "TReportBuilder.h"

#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TDetailsStore.h"
#include "TLookup.h"
#include "TStamp.h"
#include "TXIsamFile.h"

#include <QHash>

namespace {

constexpr qint32 LastSecondOfDay = 86399;

// Every user's full name by key, from one pass over the users: a report names
// the assignees of thousands of entries, and one look-up each would read the
// dataset as many times.
QHash<QString, QString> fullNames(TXIsamFile& users)
{
    QHash<QString, QString> names;
    UserRecord user;
    TLookup::Each(users, user.bytes(), [&](const QString& key) { names.insert(key, user.FullName()); });
    return names;
}

void setToDay(TStamp& stamp, const QDate& date)
{
    stamp.SetDateTime(date.year(), date.month(), date.day(), 0, 0, 0);
}

// Where an entry's lines stand in the report, for its details to be added.
struct Placed
{
    QString key;
    qint32 start = 0;
    bool unTimed = false;
    qsizetype line = 0;
    qsizetype names = 0;
};

QString hourMinute(const TStamp& stamp)
{
    return QString::asprintf("%2.2d:%2.2d", stamp.Hour(), stamp.Minute());
}

QDate dateOf(const TStamp& stamp)
{
    return QDate(stamp.Year(), stamp.Month(), stamp.Day());
}

// The time column with the end: "09:30-10:30" within the day (an end at
// midnight closes it), "22:00 to Tue 05 02:00" past it, "Day to Wed 06" for an
// un-timed entry of several days.
QString timeWithEnd(const QString& time, const Placed& placed, const TEntryDetails& details)
{
    TStamp stamp;
    stamp.Format = QStringLiteral("ddd dd");
    stamp.SetSeconds(placed.start);
    if (placed.unTimed || details.durationSeconds <= 0) {
        if (!placed.unTimed || details.days <= 1)
            return time;
        stamp.Increment(TStamp::IncDays, details.days - 1);
        return time + QStringLiteral(" to ") + stamp.AsString();
    }
    const QString start = hourMinute(stamp);
    const QDate first = dateOf(stamp);
    stamp.SetSeconds(placed.start + details.durationSeconds - 1);
    const bool sameDay = dateOf(stamp) == first;
    stamp.SetSeconds(placed.start + details.durationSeconds);
    return sameDay ? start + QLatin1Char('-') + hourMinute(stamp)
                   : start + QStringLiteral(" to ") + stamp.AsString() + QLatin1Char(' ') + hourMinute(stamp);
}

// The report's lines with each placed entry's details added.
QStringList withDetails(const QStringList& lines, const QList<Placed>& placed, TDetailsStore& store)
{
    QStringList keys;
    for (const Placed& one : placed)
        keys << one.key;
    const QHash<QString, TEntryDetails> details = store.Entries(keys, true);
    QStringList out;
    out.reserve(lines.size());
    qsizetype from = 0;
    for (const Placed& one : placed) {
        const auto found = details.constFind(one.key);
        if (found == details.constEnd())
            continue;
        for (; from < one.line; ++from)
            out << lines[from];
        // The main line: day, time, description and the place after it.
        QStringList fields = lines[one.line].split(QLatin1Char('\t'));
        fields[2] = timeWithEnd(fields[2], one, *found);
        fields.last() = found->location;
        out << fields.join(QLatin1Char('\t'));
        for (from = one.line + 1; from <= one.names; ++from)
            out << lines[from];
        if (!found->notes.isEmpty()) {
            // Notes written elsewhere may end their lines with CR LF.
            const QString notes = QString(found->notes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            for (const QString& note : notes.split(QLatin1Char('\n')))
                out << QStringLiteral("\t\t\t") + note;
        }
    }
    for (; from < lines.size(); ++from)
        out << lines[from];
    return out;
}

// The time column: "hh:nn" without the picture's parsing, once per line, or
// "Day" for midnight; with its tab.
void appendTime(QString& line, int hour, int minute)
{
    if (hour == 0 && minute == 0) {
        line += QStringLiteral("Day\t");
        return;
    }
    const QChar time[] = {QChar(u'0' + hour / 10), QChar(u'0' + hour % 10), QChar(u':'),
                          QChar(u'0' + minute / 10), QChar(u'0' + minute % 10), QChar(u'\t')};
    line.append(time, 6);
}

// Appends the entry's assignees' names, comma-separated, to `line`; answers
// how many, or -1 for an assignee `names` does not hold.
int appendNames(QString& line, const DayEntryRecord& entry, const QHash<QString, QString>& names)
{
    int named = 0;
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        const QString key = entry.Assignee(slot);
        if (key == RecordKey::None)
            continue;
        const auto name = names.constFind(key);
        if (name == names.constEnd())
            return -1;
        if (named++ > 0)
            line += QStringLiteral(", ");
        line += *name;
    }
    return named;
}

} // namespace

QStringList TReportBuilder::headLines() const
{
    TStamp stamp;
    stamp.Format = QStringLiteral("ddd dd mmmm yyyy");
    setToDay(stamp, StartDate);
    QString title = QStringLiteral("Quorla Report From ") + stamp.AsString();
    setToDay(stamp, EndDate);
    stamp.Increment(TStamp::IncSeconds, LastSecondOfDay);
    title += QStringLiteral(" To ") + stamp.AsString();

    QStringList lines;
    lines << title << QString();
    lines << (RestrictCategory ? QStringLiteral("Category = ") + CategoryText : QStringLiteral("All Categories"));
    QStringList chosen;
    for (const User& user : Users)
        chosen << user.FullName;
    lines << (chosen.isEmpty() ? QStringLiteral("All Users")
                               : QStringLiteral("User(s) = ") + chosen.join(QStringLiteral(", ")));
    if (RestrictResource)
        lines << QStringLiteral("Resource = ") + ResourceName;
    return lines;
}

QStringList TReportBuilder::Build(TXIsamFile& dayEntries, TXIsamFile& users, TDetailsStore* details) const
{
    // The users first, then the year in one read straight into the lines:
    // the entries come in start-time order already, and a copy of each (a
    // year holds tens of thousands) would cost more than the lines themselves.
    const QHash<QString, QString> names = fullNames(users);
    QStringList lines = headLines();
    TStamp stamp;

    // The heading changes with the year as well as the month, so that the same
    // month of the next year gets a heading of its own.
    int lastMonth = -1;
    int lastDay = -1;
    // An assignee missing from the users fails the report once the read is
    // over: the read is left to end by itself rather than by an exception.
    bool unknownUser = false;
    const QString threeTabs = QStringLiteral("\t\t\t");
    const QString monthFormat = QStringLiteral("mmmm yyyy");
    const QString dayFormat = QStringLiteral("ddd dd");
    QList<Placed> placed;
    Read(dayEntries, [&](const DayEntryRecord& entry, const QString& key) {
        if (unknownUser)
            return;
        stamp.SetSeconds(static_cast<qint32>(RecordKey::parse(entry.StartTime())));
        const int month = stamp.Year() * 12 + stamp.Month();
        if (month != lastMonth) {
            stamp.Format = monthFormat;
            lastMonth = month;
            lines << QString() << stamp.AsString() << QString();
            lastDay = -1;
        }
        QString line;
        if (stamp.Day() != lastDay) {
            stamp.Format = dayFormat;
            line = QLatin1Char('\t') + stamp.AsString() + QLatin1Char('\t');
            lastDay = stamp.Day();
        } else {
            line = QStringLiteral("\t  \t");
        }
        appendTime(line, stamp.Hour(), stamp.Minute());
        line += entry.Description() + QLatin1Char('\t');
        lines << line;
        if (details != nullptr)
            placed.append({key, stamp.Seconds(), (entry.Flags() & DayEntryRecord::UnTimed) != 0, lines.size() - 1});

        QString assignees = threeTabs;
        const int named = appendNames(assignees, entry, names);
        if (named < 0) {
            unknownUser = true;
            return;
        }
        lines << assignees;
        if (details != nullptr)
            placed.last().names = lines.size() - 1;
        if (named > 0)
            lines << QString();
    });
    if (unknownUser)
        throw EQuorla(QStringLiteral("Unable to locate user"));
    return placed.isEmpty() ? lines : withDetails(lines, placed, *details);
}
