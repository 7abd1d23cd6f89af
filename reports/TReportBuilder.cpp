#include "TReportBuilder.h"

#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TDayEntries.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TStamp.h"
#include "TXIsamFile.h"

namespace {

constexpr qint16 PrimaryIndex = 0;
constexpr qint16 StartTimeIndex = 3;
constexpr qint32 LastSecondOfDay = 86399;

// A read that failed for another reason than "no such record" (which only
// ends a scan or a look-up) is an error of the dataset.
void raiseUnlessNotFound(const TXIsamFile& dataset)
{
    if (dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
}

void setToDay(TStamp& stamp, const QDate& date)
{
    stamp.SetDateTime(date.year(), date.month(), date.day(), 0, 0, 0);
}

} // namespace

QStringList TReportBuilder::Build(TXIsamFile& dayEntries, TXIsamFile& users) const
{
    TFilterRules rules;
    if (!Users.isEmpty()) {
        rules.Mode = TFilterRules::ShowChosen;
        for (const User& user : Users)
            rules.Add(user.Key);
    }

    TStamp stamp;
    stamp.Format = QStringLiteral("ddd dd mmmm yyyy");
    setToDay(stamp, StartDate);
    const QString startKey = stamp.Key();
    QString title = QStringLiteral("Quorla Report From ") + stamp.AsString();
    setToDay(stamp, EndDate);
    stamp.Increment(TStamp::IncSeconds, LastSecondOfDay);
    const QString endKey = stamp.Key();
    title += QStringLiteral(" To ") + stamp.AsString();

    TDayEntries entries;
    entries.UntimedFirst = false;
    DayEntryRecord entry;
    const auto consider = [&] {
        if (!EntryVisible(rules, CurrentUser, CurrentUserKey, entry))
            return;
        if (RestrictCategory && entry.CategoryKey() != CategoryKey)
            return;
        entries.Add(entry, dayEntries.CurrentKey());
    };
    // An entry found at exactly the start key is the first candidate; when the
    // end lies before the start there are none at all.
    if (dayEntries.GetEqual(entry.bytes(), StartTimeIndex, startKey)) {
        if (startKey <= endKey)
            consider();
    } else {
        raiseUnlessNotFound(dayEntries);
    }
    while (dayEntries.Get(entry.bytes(), StartTimeIndex, endKey, TXIsamFile::ScanAtMost))
        consider();
    raiseUnlessNotFound(dayEntries);

    QStringList lines;
    lines << title << QString();
    lines << (RestrictCategory ? QStringLiteral("Category = ") + CategoryText : QStringLiteral("All Categories"));
    QStringList names;
    for (const User& user : Users)
        names << user.FullName;
    lines << (names.isEmpty() ? QStringLiteral("All Users") : QStringLiteral("User(s) = ") + names.join(QStringLiteral(", ")));

    // The heading changes with the year as well as the month, so that the same
    // month of the next year gets a heading of its own.
    int lastMonth = -1;
    int lastDay = -1;
    const QString threeTabs = QStringLiteral("\t\t\t");
    UserRecord user;
    for (int i = 0; i < entries.Count(); ++i) {
        entry = entries.Entry(i);
        stamp.SetSeconds(static_cast<qint32>(RecordKey::parse(entry.StartTime())));
        const int month = stamp.Year() * 12 + stamp.Month();
        if (month != lastMonth) {
            stamp.Format = QStringLiteral("mmmm yyyy");
            lastMonth = month;
            lines << QString() << stamp.AsString() << QString();
            lastDay = -1;
        }
        QString line;
        if (stamp.Day() != lastDay) {
            stamp.Format = QStringLiteral("ddd dd");
            line = QLatin1Char('\t') + stamp.AsString() + QLatin1Char('\t');
            lastDay = stamp.Day();
        } else {
            line = QStringLiteral("\t  \t");
        }
        stamp.Format = QStringLiteral("hh:nn");
        const QString time = stamp.AsString();
        line += (time == QLatin1String("00:00") ? QStringLiteral("Day") : time) + QLatin1Char('\t');
        line += entry.Description() + QLatin1Char('\t');
        lines << line;

        QString assignees = threeTabs;
        bool named = false;
        for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
            const QString key = entry.Assignee(slot);
            if (key == RecordKey::None)
                continue;
            if (!users.GetEqual(user.bytes(), PrimaryIndex, key)) {
                if (users.LastError() == IsamNotFound || users.LastError() == IsamBadKey)
                    throw EQuorla(QStringLiteral("Unable to locate user"));
                throw EQuorla(users.ErrorText());
            }
            if (named)
                assignees += QStringLiteral(", ");
            assignees += user.FullName();
            named = true;
        }
        lines << assignees;
        if (named)
            lines << QString();
    }
    return lines;
}
