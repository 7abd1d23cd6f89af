#include "TReportBuilder.h"

#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
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

} // namespace

QStringList TReportBuilder::Build(TXIsamFile& dayEntries, TXIsamFile& users) const
{
    TStamp stamp;
    stamp.Format = QStringLiteral("ddd dd mmmm yyyy");
    setToDay(stamp, StartDate);
    QString title = QStringLiteral("Quorla Report From ") + stamp.AsString();
    setToDay(stamp, EndDate);
    stamp.Increment(TStamp::IncSeconds, LastSecondOfDay);
    title += QStringLiteral(" To ") + stamp.AsString();

    // The users first, then the year in one read straight into the lines:
    // the entries come in start-time order already, and a copy of each (a
    // year holds tens of thousands) would cost more than the lines themselves.
    const QHash<QString, QString> names = fullNames(users);

    QStringList lines;
    lines << title << QString();
    lines << (RestrictCategory ? QStringLiteral("Category = ") + CategoryText : QStringLiteral("All Categories"));
    QStringList chosen;
    for (const User& user : Users)
        chosen << user.FullName;
    lines << (chosen.isEmpty() ? QStringLiteral("All Users")
                               : QStringLiteral("User(s) = ") + chosen.join(QStringLiteral(", ")));

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
    Read(dayEntries, [&](const DayEntryRecord& entry, const QString&) {
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
        // "hh:nn" without the picture's parsing, once per line.
        const int hour = stamp.Hour();
        const int minute = stamp.Minute();
        if (hour == 0 && minute == 0) {
            line += QStringLiteral("Day\t");
        } else {
            const QChar time[] = {QChar(u'0' + hour / 10), QChar(u'0' + hour % 10), QChar(u':'),
                                  QChar(u'0' + minute / 10), QChar(u'0' + minute % 10), QChar(u'\t')};
            line.append(time, 6);
        }
        line += entry.Description() + QLatin1Char('\t');
        lines << line;

        QString assignees = threeTabs;
        bool named = false;
        for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
            const QString key = entry.Assignee(slot);
            if (key == RecordKey::None)
                continue;
            const auto name = names.constFind(key);
            if (name == names.constEnd()) {
                unknownUser = true;
                return;
            }
            if (named)
                assignees += QStringLiteral(", ");
            assignees += *name;
            named = true;
        }
        lines << assignees;
        if (named)
            lines << QString();
    });
    if (unknownUser)
        throw EQuorla(QStringLiteral("Unable to locate user"));
    return lines;
}
