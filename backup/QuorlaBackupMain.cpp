// quorla_backup SOURCE DEST: a copy of a Quorla database at one moment while
// workstations go on working (TDatabaseBackup), checked, as a database
// folder; with --keep N, DEST is a folder of dated backups, the newest N kept
// (TBackupGenerations). Progress to standard output, failures to standard
// error.

#include "EQuorla.h"
#include "TBackupGenerations.h"
#include "TClock.h"
#include "TCommandLine.h"
#include "TDatabaseBackup.h"
#include "TDatabaseLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

namespace {

const QString Summary = QStringLiteral(
    "Copies the Quorla database SOURCE into the new database folder DEST while\n"
    "workstations go on working: every data set as at one moment between two\n"
    "changes. On a folder the workstations' changes wait a moment (never more\n"
    "than a second) while the files are read; a server's data sets are read in\n"
    "one snapshot. Then it checks the copy: SQLite's integrity check of every\n"
    "file, every alarm's event present, no alarm twice, every next key above the\n"
    "largest key. A copy that cannot be made whole, or fails its check, is\n"
    "removed: DEST then holds nothing new.\n"
    "\n"
    "SOURCE is a database folder (/srv/quorla/) or a PostgreSQL connection URI\n"
    "(postgresql://quorla_boss@dbhost/quorla). Restore a backup with\n"
    "quorla_migrate DEST/ TARGET.");

const QString Epilogue = QStringLiteral(
    "Exit status: 0 when the copy was made and passed its check; 1 when no good\n"
    "copy could be made (nothing is left of it); 2 for a usage error.");

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TCommandLine line(QStringLiteral("quorla_backup"), QStringLiteral("[OPTION]... SOURCE DEST"), Summary);
    line.AddOption(QStringLiteral("keep"), QStringLiteral("N"),
                   QStringLiteral("DEST is a folder of backups: make a new one\n"
                                  "there, named by the time in UTC\n"
                                  "(quorla-YYYYMMDD-HHMMSS), and keep the newest N"));
    line.SetEpilogue(Epilogue);
    line.SetOperands(2, 2);
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    const TDatabaseLocation source(line.Operands()[0]);
    if (!source.IsValid())
        return line.UsageFailure(source.Error());
    bool isNumber = false;
    const int keep = line.Value(QStringLiteral("keep")).toInt(&isNumber);
    if (line.IsSet(QStringLiteral("keep")) && (!isNumber || keep < 1))
        return line.UsageFailure(QStringLiteral("--keep wants a number of backups, 1 or more"));

    const QString dest = QDir::cleanPath(QDir::current().absoluteFilePath(line.Operands()[1]));
    const TBackupGenerations generations(dest);
    if (line.IsSet(QStringLiteral("keep")) && !QDir().mkpath(dest))
        return line.Failure(QStringLiteral("Cannot make the folder %1").arg(dest));
    const QString copy = line.IsSet(QStringLiteral("keep")) ? generations.Next(TClock::now()) : dest;

    TDatabaseBackup backup(source, copy);
    backup.OnNote = TCommandLine::Say;
    QElapsedTimer took;
    took.start();
    try {
        backup.Run();
    } catch (const EQuorla& e) {
        return line.Failure(e.message());
    }
    TCommandLine::Say(QStringLiteral("Took %1 ms").arg(took.elapsed()));
    if (line.IsSet(QStringLiteral("keep")))
        for (const QString& gone : generations.Prune(keep))
            TCommandLine::Say(QStringLiteral("Removed the older backup %1").arg(gone));
    return TCommandLine::ExitSuccess;
}
