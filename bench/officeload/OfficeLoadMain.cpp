// A short round of the office's load on a private database server, for the
// test suite: 20 workstations for 12 seconds (or as many and as long as the
// options say, each as its user's own server role if asked). It checks that
// the load runs and every poll and write succeeds; the times are printed,
// never judged.

#include "PostgresCluster.h"
#include "TCommandLine.h"
#include "TOfficeLoad.h"

#include <QCoreApplication>

#include <algorithm>
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
    line.AddOption(QStringLiteral("workstations"), QStringLiteral("N"), QStringLiteral("run N workstations (20)"));
    line.AddOption(QStringLiteral("seconds"), QStringLiteral("S"), QStringLiteral("run for S seconds (12)"));
    line.AddOption(QStringLiteral("processes"), QStringLiteral("P"), QStringLiteral("spread them over P load processes (2)"));
    line.AddOption(QStringLiteral("own-roles"), QString(),
                   QStringLiteral("each workstation logs in as its user's own server role"));
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    const auto number = [&](const QString& name, int otherwise) {
        return line.IsSet(name) ? line.Value(name).toInt() : otherwise;
    };
    const int workstations = number(QStringLiteral("workstations"), 20);
    const int seconds = number(QStringLiteral("seconds"), 12);
    const int processes = number(QStringLiteral("processes"), 2);
    if (workstations < 1 || seconds < 1 || processes < 1)
        return line.UsageFailure(QStringLiteral("counts and seconds are whole numbers from 1"));
    // A session for each workstation, the load processes' baselines and the
    // watcher.
    PostgresCluster server({QStringLiteral("max_connections=%1").arg(std::max(100, workstations + processes + 20))});
    const QString office = server.createDatabase(QStringLiteral("office"));
    const QString password = line.IsSet(QStringLiteral("own-roles")) ? QStringLiteral("officepw") : QString();
    if (office.isEmpty() || !TOfficeLoad::prepare(office, workstations, password)
        || (!password.isEmpty() && !TOfficeLoad::adoptRoles(office, workstations))) {
        std::fprintf(stderr, "no office database: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QString uri = password.isEmpty() ? office : server.personalUri(QStringLiteral("office"));
    const TOfficeLoad::Figures f
        = TOfficeLoad::run(QCoreApplication::applicationFilePath(), uri, workstations, seconds, processes, password);
    TOfficeLoad::print(f);
    // Each workstation polls at least once and none may fail.
    const bool held = f.error.isEmpty() && f.failures == 0 && f.polls >= workstations && f.sessions >= workstations;
    std::printf("%s\n", held ? "1 passed, 0 failed" : "0 passed, 1 failed");
    return held ? 0 : 1;
}
