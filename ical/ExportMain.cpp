// quorla_export: the calendar as one user sees it, as an iCalendar file, for
// a feed that other calendars subscribe to (run by cron, served by any web
// server). The file is replaced whole, never written in place. The tool only
// reads the database: it never makes one, nor a dataset of one.

#include "EQuorla.h"
#include "TCalendarExport.h"
#include "TCommandLine.h"
#include "TConsoleMachineServices.h"
#include "TConsolePersonServices.h"
#include "TDatabaseLocation.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QDate>
#include <QTimeZone>

#include <cstdio>

namespace {

constexpr int DaysBack = 31;
constexpr int DaysAhead = 366;

QDate dateOption(const TCommandLine& line, const char* name, const QDate& fallback, bool& ok)
{
    if (!line.IsSet(QLatin1String(name)))
        return fallback;
    const QDate date = QDate::fromString(line.Value(QLatin1String(name)), Qt::ISODate);
    ok = ok && date.isValid();
    return date;
}

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line(QStringLiteral("quorla_export"), QStringLiteral("[OPTION]... --database=PLACE --user=NAME --out=FILE"),
                      QStringLiteral("Writes the Quorla calendar as user NAME sees it to FILE, an iCalendar (.ics) file."));
    line.AddOption(QStringLiteral("database"), QStringLiteral("PLACE"),
                   QStringLiteral("the database: its folder, or a postgresql:// connection URI"), QLatin1Char('d'));
    line.AddOption(QStringLiteral("user"), QStringLiteral("NAME"),
                   QStringLiteral("whose calendar: his alarms, and the private entries he may see"), QLatin1Char('u'));
    line.AddOption(QStringLiteral("from"), QStringLiteral("DATE"),
                   QStringLiteral("first day, as 2027-01-31 (default: %1 days ago)").arg(DaysBack));
    line.AddOption(QStringLiteral("to"), QStringLiteral("DATE"),
                   QStringLiteral("last day (default: %1 days ahead)").arg(DaysAhead));
    line.AddOption(QStringLiteral("duration"), QStringLiteral("MINUTES"),
                   QStringLiteral("how long a timed event is said to last (default: 30)"));
    line.AddOption(QStringLiteral("zone"), QStringLiteral("ZONE"),
                   QStringLiteral("the office's time zone, as Europe/Berlin (default: the one kept in the database)"));
    line.AddOption(QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("the file to write"), QLatin1Char('o'));
    line.SetEpilogue(QStringLiteral("The file is written whole and then put in place, so a reader never sees half a "
                                    "calendar.\n\nExit status: 0 if the calendar was written, 1 if it could not "
                                    "be, 2 for a wrong command line."));
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    for (const char* required : {"database", "user", "out"}) {
        if (!line.IsSet(QLatin1String(required)))
            return line.UsageFailure(QStringLiteral("missing --%1").arg(QLatin1String(required)));
    }

    QCoreApplication app(argc, argv);
    TConsolePersonServices person;
    TConsoleMachineServices machine;
    TCalendarExport calendar;
    const QDate today = machine.now().date();
    bool datesOk = true;
    calendar.StartDate = dateOption(line, "from", today.addDays(-DaysBack), datesOk);
    calendar.EndDate = dateOption(line, "to", today.addDays(DaysAhead), datesOk);
    if (!datesOk)
        return line.UsageFailure(QStringLiteral("a date is written as 2027-01-31"));
    // An empty range would replace a good feed with an empty one, and every
    // subscriber would then delete every event.
    if (calendar.StartDate > calendar.EndDate)
        return line.UsageFailure(QStringLiteral("the first day (--from %1) is after the last (--to %2)")
                                     .arg(calendar.StartDate.toString(Qt::ISODate),
                                          calendar.EndDate.toString(Qt::ISODate)));
    if (line.IsSet(QStringLiteral("duration"))) {
        bool ok = false;
        calendar.DurationMinutes = line.Value(QStringLiteral("duration")).toInt(&ok);
        if (!ok || calendar.DurationMinutes < 1 || calendar.DurationMinutes > 24 * 60)
            return line.UsageFailure(QStringLiteral("the duration is a number of minutes from 1 to 1440"));
    }
    if (line.IsSet(QStringLiteral("zone"))) {
        calendar.Zone = line.Value(QStringLiteral("zone")).toUtf8();
        if (!QTimeZone::isTimeZoneIdAvailable(calendar.Zone))
            return line.UsageFailure(QStringLiteral("unknown time zone %1").arg(line.Value(QStringLiteral("zone"))));
    }
    const TDatabaseLocation location(line.Value(QStringLiteral("database")));
    if (!location.IsValid())
        return line.UsageFailure(location.Error());
    int status = TCommandLine::ExitSuccess;
    try {
        TQuorlaDB database({&person, nullptr, &machine}, location, TQuorlaDB::Opening::ExistingOnly);
        const QString name = UserRecord::NameOf(line.Value(QStringLiteral("user")));
        if (!TLookup::Equal(database.Users(), calendar.CurrentUser.bytes(), UserRecord::UserNameIndex, name))
            throw EQuorla(QStringLiteral("No user is called %1").arg(name));
        calendar.CurrentUserKey = database.Users().CurrentKey();
        calendar.Changes = TCalendarExport::FromTrail(database.Trail());
        int events = 0;
        const QByteArray text = calendar.Build(database, &events);
        TCalendarExport::WriteFile(line.Value(QStringLiteral("out")), text);
    } catch (const EQuorla& e) {
        QString message = e.message();
        message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        status = line.Failure(message);
    }
    return status;
}
