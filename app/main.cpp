// The program entry: the command line first, answered without a display; then
// the application titled "Quorla", its services, the main window and every
// dialog, each created once and reused until the end.

#include "TCommandLine.h"
#include "TDatabaseLocation.h"
#include "TDatabaseOption.h"
#include "TProgramIcon.h"
#include "TQtServices.h"
#include "TfrmCategories.h"
#include "TfrmDate.h"
#include "TfrmEvent.h"
#include "TfrmFiltering.h"
#include "TfrmGroups.h"
#include "TfrmLogin.h"
#include "TfrmMain.h"
#include "TfrmNotify.h"
#include "TfrmOptions.h"
#include "TfrmReport.h"
#include "TfrmReportViewer.h"
#include "TfrmSelectGroup.h"
#include "TfrmTrouble.h"
#include "TfrmUsers.h"

#include <QApplication>
#include <QByteArray>

#include <cstdio>
#include <vector>

namespace {

const QString Summary = QStringLiteral(
    "The shared office calendar: opens the workstation's Quorla database and shows\n"
    "the team's week.");

const QString Epilogue = QStringLiteral(
    "Without --database the program opens the database recorded for this workstation\n"
    "(RootPath in $XDG_CONFIG_HOME/KLV/Quorla.conf) and asks for a folder at the first\n"
    "start; without a display, --database only records the database. Qt's own\n"
    "options (-platform, -style, -session, -display...) are passed on.\n"
    "\n"
    "Exit status:\n"
    " 0  the program was closed, another instance was already running, or\n"
    "    --database was recorded without a display\n"
    " 1  it could not start: no database, a failed login, settings not written\n"
    " 2  the command line was wrong, or --database named no folder or server");

// Qt's documented options that take a value, and those that do not. A session
// manager restores the program with "-session ID", so these must never be
// refused.
const char* const QtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                      "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                      "style", "stylesheet", "display", "geometry"};
const char* const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// Whether the application will find a display to open: a platform or display
// named among Qt's options or in QT_QPA_PLATFORM, or an X or Wayland display
// in the environment. Without one, Qt aborts the process as the application
// is made.
bool displayToOpen(const QStringList& qtArguments)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    for (const QString& argument : qtArguments) {
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        if (name.startsWith(QLatin1Char('-')) && (name.endsWith(QLatin1String("-platform"))
                                                  || name.endsWith(QLatin1String("-display"))))
            return true;
    }
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(qtArguments);
    return true;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line(QStringLiteral("quorla"), QStringLiteral("[OPTION]..."), Summary);
    line.AddOption(QStringLiteral("database"), QStringLiteral("FOLDER-or-URI"),
                   QStringLiteral("open this database, now and at later starts: a\n"
                                  "database folder, or a database server's URI"));
    line.SetEpilogue(Epilogue);
    for (const char* name : QtValueOptions)
        line.AddPassThrough(QLatin1String(name), true);
    for (const char* name : QtFlagOptions)
        line.AddPassThrough(QLatin1String(name), false);
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    if (line.IsSet(QStringLiteral("database"))) {
        if (line.Value(QStringLiteral("database")).isEmpty())
            return line.UsageFailure(QStringLiteral("option '--database' requires a folder or a URI"));
        // A value that cannot be a database is a wrong command line, and
        // nothing is recorded for it.
        const TDatabaseLocation location(line.Value(QStringLiteral("database")));
        if (const QString refusal = TDatabaseOption::Refusal(location); !refusal.isEmpty())
            return line.UsageFailure(refusal);
        QString error;
        if (!TDatabaseOption::Record(location, error))
            return line.Failure(error);
        // Setting a workstation up from a console or over ssh: the recording
        // is the whole of it, and it needs no display.
        if (!displayToOpen(line.PassedThrough())) {
            std::printf("quorla: %s recorded as this workstation's database; no display to start on\n",
                        qPrintable(location.Printable()));
            return TCommandLine::ExitSuccess;
        }
    }

    // Qt sees only its own options; the arguments live as long as the application.
    std::vector<QByteArray> qtArguments{QByteArray(argv[0])};
    for (const QString& argument : line.PassedThrough())
        qtArguments.push_back(argument.toLocal8Bit());
    std::vector<char*> qtArgv;
    for (QByteArray& argument : qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArguments.size());

    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Quorla"));
    QApplication::setApplicationVersion(TCommandLine::Version());
    // Ties the windows to the installed desktop entry (its name and icon in
    // task bars and on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORLA_APP_ID));
    QApplication::setWindowIcon(TProgramIcon::Icon());

    TQtServices desktop;

    int result = 0;
    {
        TfrmMain frmMain(desktop);
        // Owned by the main window, so they go with it; made with its
        // services, whose person screens errors through its outage watch.
        const TServices services = frmMain.Services();
        auto* frmLogin = new TfrmLogin(services, &frmMain);
        auto* frmDate = new TfrmDate(services, &frmMain);
        frmMain.AttachDialogs(frmLogin, frmDate);
        frmMain.AttachAdminDialogs(new TfrmUsers(services, &frmMain), new TfrmCategories(services, &frmMain));
        frmMain.AttachToolDialogs(new TfrmOptions(services, &frmMain), new TfrmFiltering(&frmMain),
                                  new TfrmTrouble(services, &frmMain));
        frmMain.AttachReportDialogs(new TfrmGroups(services, &frmMain), new TfrmReport(services, &frmMain),
                                    new TfrmReportViewer(services, &frmMain), new TfrmSelectGroup(&frmMain));
        frmMain.AttachEventDialogs(new TfrmEvent(services, &frmMain), new TfrmNotify(services, &frmMain));
        // A second instance says so before anything shows and before the
        // application's loop runs: nothing can then end its message early.
        if (frmMain.StartAlone()) {
            frmMain.show();
            result = QApplication::exec();
        }
        if (result == 0)
            result = frmMain.ExitCode();
    }
    return result;
}
