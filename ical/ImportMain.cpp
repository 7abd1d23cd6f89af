// quorla_import: an iCalendar file taken into the Quorla calendar in one
// user's name, as File > Import calendar... does. The tool never makes a
// database; it refuses (status 1) before writing anything when the file
// cannot be read or is no calendar, the user is unknown, or may not add
// entries.

#include "EQuorla.h"
#include "TCalendarImport.h"
#include "TCommandLine.h"
#include "TConsoleMachineServices.h"
#include "TConsolePersonServices.h"
#include "TDatabaseLocation.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QTimeZone>

#include <cstdio>

int main(int argc, char** argv)
{
    TCommandLine line(QStringLiteral("quorla_import"), QStringLiteral("[OPTION]... --database=PLACE --user=NAME FILE"),
                      QStringLiteral("Imports the events of FILE, an iCalendar (.ics) file, into the Quorla calendar "
                                     "of user NAME."));
    line.AddOption(QStringLiteral("database"), QStringLiteral("PLACE"),
                   QStringLiteral("the database: its folder, or a postgresql:// connection URI"), QLatin1Char('d'));
    line.AddOption(QStringLiteral("user"), QStringLiteral("NAME"),
                   QStringLiteral("who imports: owner and assignee of every event, and who gets its alarms"),
                   QLatin1Char('u'));
    line.AddOption(QStringLiteral("zone"), QStringLiteral("ZONE"),
                   QStringLiteral("the office's time zone, as Europe/Berlin (default: the one kept in the database)"));
    line.SetOperands(1, 1);
    line.SetEpilogue(QStringLiteral("Events imported before (the same UID) are updated, never added twice. What "
                                    "cannot be taken is listed with its reason.\n\nExit status: 0 if the file was "
                                    "imported, 1 if it was refused, 2 for a wrong command line."));
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    for (const char* required : {"database", "user"}) {
        if (!line.IsSet(QLatin1String(required)))
            return line.UsageFailure(QStringLiteral("missing --%1").arg(QLatin1String(required)));
    }
    QByteArray zone;
    if (line.IsSet(QStringLiteral("zone"))) {
        zone = line.Value(QStringLiteral("zone")).toUtf8();
        if (!QTimeZone::isTimeZoneIdAvailable(zone))
            return line.UsageFailure(QStringLiteral("unknown time zone %1").arg(line.Value(QStringLiteral("zone"))));
    }
    const TDatabaseLocation location(line.Value(QStringLiteral("database")));
    if (!location.IsValid())
        return line.UsageFailure(location.Error());

    QCoreApplication app(argc, argv);
    TConsolePersonServices person;
    TConsoleMachineServices machine;
    int status = TCommandLine::ExitSuccess;
    try {
        const QString path = line.Operands().constFirst();
        const QByteArray text = TCalendarImport::ReadFile(path);
        TQuorlaDB database({&person, nullptr, &machine}, location, TQuorlaDB::Opening::ExistingOnly);
        const QString name = UserRecord::NameOf(line.Value(QStringLiteral("user")));
        UserRecord user;
        if (!TLookup::Equal(database.Users(), user.bytes(), UserRecord::UserNameIndex, name))
            throw EQuorla(QStringLiteral("No user is called %1").arg(name));
        const QString userKey = database.Users().CurrentKey();
        database.SetActingUser(userKey);
        TCalendarImport import(database, userKey, user);
        import.Zone = zone;
        const TCalendarImport::TOutcome outcome = import.Import(text, path);
        std::fputs(qPrintable(TCalendarImport::Report(outcome) + QLatin1Char('\n')), stdout);
    } catch (const EQuorla& e) {
        QString message = e.message();
        message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        status = line.Failure(message);
    }
    return status;
}
