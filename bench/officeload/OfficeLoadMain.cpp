// A short round of the office's load on a private database server, for the
// test suite: 20 workstations for 12 seconds. It checks that the load runs and
// every poll and write succeeds; the times are printed, never judged.

#include "PostgresCluster.h"
#include "TCommandLine.h"
#include "TOfficeLoad.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("officeload-worker"))
        return TOfficeLoad::workerMain(app.arguments().mid(2));
    TCommandLine line(QStringLiteral("quorla_officeload"), QStringLiteral("[OPTION]..."),
                      QStringLiteral("Runs a short round of an office's load on a private database server that it\n"
                                     "starts itself: 20 workstations for 12 seconds, each polling its user's alarms\n"
                                     "every 10 seconds as the program does and adding an event with an alarm once\n"
                                     "a minute. Prints the polls' times and fails when a poll or write fails."));
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    PostgresCluster server;
    const QString uri = server.createDatabase(QStringLiteral("office"));
    if (uri.isEmpty() || !TOfficeLoad::prepare(uri, 20)) {
        std::fprintf(stderr, "no office database: %s\n", qPrintable(server.error()));
        return 1;
    }
    const TOfficeLoad::Figures f = TOfficeLoad::run(QCoreApplication::applicationFilePath(), uri, 20, 12, 2);
    TOfficeLoad::print(f);
    // Each workstation polls at least once in 12 s and none may fail.
    const bool held = f.error.isEmpty() && f.failures == 0 && f.polls >= 20 && f.sessions >= 20;
    std::printf("%s\n", held ? "1 passed, 0 failed" : "0 passed, 1 failed");
    return held ? 0 : 1;
}
