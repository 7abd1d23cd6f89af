// quorla_migrate FROM TO: copies a Quorla database into an empty one, each
// side a folder (ending in "/") or a PostgreSQL connection URI, and checks the
// copy against the source (TDatabaseCopier). Progress and the check's figures
// go to standard output, failures to standard error.

#include "TClock.h"
#include "TCommandLine.h"
#include "TConsoleMachineServices.h"
#include "TDatabaseCopier.h"
#include "EQuorla.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TServerRoles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>

namespace {

const QString Summary = QStringLiteral(
    "Copies the Quorla database FROM into the empty database TO: every record\n"
    "under its own key and byte for byte, and each dataset's next key. Then it\n"
    "reads both again and compares the number of records, the next key and a\n"
    "checksum of every record. No workstation may use either database meanwhile.\n"
    "\n"
    "FROM and TO are each a database folder, written with a final \"/\"\n"
    "(/srv/quorla/), or a PostgreSQL connection URI\n"
    "(postgresql://quorla_boss@dbhost/quorla); user and password come from the\n"
    "URI, ~/.pgpass or the environment, as for the program.\n"
    "\n"
    "A backup made by quorla_backup is restored the same way: FROM is the\n"
    "backup's folder. A TO that holds a database is refused, unless --replace\n"
    "is given for a folder: its data sets are then moved aside into a folder\n"
    "\"replaced-YYYYMMDD-HHMMSS\" in it first, and back again when the copy\n"
    "fails.");

const QString Epilogue = QStringLiteral(
    "Exit status: 0 when the copy reads back as the source; 1 when it failed or\n"
    "differs (a target that is not empty is refused untouched; nothing is left\n"
    "of a failed copy, in a folder or on a server, where the copy is one\n"
    "transaction); 2 for a usage error.");

const auto say = TCommandLine::Say;

// The data set files of the folder `folder` (with their journals and lock
// files).
QStringList datasetFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("QL*.Ism*")}, QDir::Files);
}

// Moves `names` from the folder `from` into the folder `to`; false when one
// could not be moved (those moved stay moved).
bool moveFiles(const QString& from, const QString& to, const QStringList& names)
{
    if (!QDir().mkpath(to))
        return false;
    for (const QString& name : names)
        if (!QFile::rename(QDir(from).filePath(name), QDir(to).filePath(name)))
            return false;
    return true;
}

// A folder in `folder` for the database --replace moves aside, named by the
// time, not taken yet.
QString asideFolder(const QString& folder)
{
    const QString stamp = QStringLiteral("replaced-") + TClock::now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = folder + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = folder + stamp + QLatin1Char('-') + QString::number(n);
    return aside;
}

// After a failed copy (which leaves nothing in a folder), the database moved
// aside goes back to its place.
void putBack(const QString& folder, const QString& aside, const QStringList& names)
{
    if (datasetFiles(folder).isEmpty() && moveFiles(aside, folder, names) && QDir().rmdir(aside))
        say(QStringLiteral("The database of %1 is back in its place").arg(folder));
    else
        say(QStringLiteral("The database of %1 stays in %2").arg(folder, aside));
}

// Copies and says each dataset's figures, with progress as it goes; throws
// the copy's error.
void copyAll(TDatabaseCopier& copier)
{
    QElapsedTimer sinceShown;
    sinceShown.start();
    copier.OnProgress = [&](const QString& dataset, const QString& phase, qint64 done, qint64 total) {
        // At most a line a second, and each dataset's end.
        if (done < total && sinceShown.elapsed() < 1000)
            return;
        sinceShown.restart();
        say(QStringLiteral("%1: %2 %3 of %4 records").arg(dataset, phase).arg(done).arg(total));
    };
    const QList<TDatabaseCopier::Summary> summaries = copier.Run();
    for (const TDatabaseCopier::Summary& s : summaries)
        say(QStringLiteral("%1: %2 records, next key %3, SHA-256 %4: as in the source")
                .arg(s.fileName)
                .arg(s.records)
                .arg(s.nextKey, QString::fromLatin1(s.checksum)));
    say(QStringLiteral("Copied and checked."));
}

// On a server each user logs in as his own role, which keeps his password;
// on a folder the records keep it. Says what became of the passwords.
void settlePasswords(const TDatabaseLocation& from, const TDatabaseLocation& to)
{
    TConsoleMachineServices machine;
    if (from.IsFolder() && to.IsServer()) {
        TQuorlaDB copy(machine, to, TQuorlaDB::Opening::ExistingOnly);
        const TServerRoles::TAdopted adopted = TServerRoles(copy).AdoptUsers();
        say(QStringLiteral("QLUsers.Ism: %1 users are server roles now (\"quorla_\" and the user name in lower "
                           "case, or \"quorla@<database>:\" and it where another database of the server has "
                           "that role); the server keeps their passwords, the copy's records none.")
                .arg(adopted.roles));
        if (adopted.withoutPassword > 0)
            say(QStringLiteral("QLUsers.Ism: %1 of them had no password and cannot log in until an "
                               "administrator gives them one.")
                    .arg(adopted.withoutPassword));
    } else if (from.IsServer() && to.IsFolder()) {
        TQuorlaDB source(machine, from, TQuorlaDB::Opening::ExistingOnly);
        if (source.KeepsRoles())
            say(QStringLiteral("QLUsers.Ism: the passwords stay with the server's roles: every user has an "
                               "empty password in the copy."));
    }
}

// A usage error's text when an operand is neither a folder written with its
// final "/" nor a server, so that a mistyped server is never taken for a
// folder to be made; empty when both are good.
QString badOperand(const QStringList& operands)
{
    for (const QString& side : operands) {
        const TDatabaseLocation location(side);
        if (!location.IsValid() || (location.IsFolder() && !side.endsWith(QLatin1Char('/'))))
            return QStringLiteral("'%1' is neither a folder ending in \"/\" nor a postgresql:// URI")
                .arg(TDatabaseLocation::Printable(side));
    }
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TCommandLine line(QStringLiteral("quorla_migrate"), QStringLiteral("[OPTION]... FROM TO"), Summary);
    line.AddOption(QStringLiteral("replace"), QString(),
                   QStringLiteral("TO is a folder whose database is to be replaced\n"
                                  "(restoring a backup): move its data sets aside\n"
                                  "first"));
    line.SetEpilogue(Epilogue);
    line.SetOperands(2, 2);
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    if (const QString bad = badOperand(line.Operands()); !bad.isEmpty())
        return line.UsageFailure(bad);

    const TDatabaseLocation from(line.Operands()[0]);
    const TDatabaseLocation target(line.Operands()[1]);
    const bool replace = line.IsSet(QStringLiteral("replace"));
    if (replace && !target.IsFolder())
        return line.UsageFailure(QStringLiteral("--replace replaces a folder's database only: restore onto a server "
                                                "into a new, empty database"));
    // What --replace moved aside, to be put back when the copy fails.
    const QStringList replaced = replace ? datasetFiles(target.Path()) : QStringList();
    const QString aside = asideFolder(target.Path());
    if (!replaced.isEmpty()) {
        if (!moveFiles(target.Path(), aside, replaced))
            return line.Failure(QStringLiteral("Cannot move the database of %1 aside into %2").arg(target.Path(), aside));
        say(QStringLiteral("The database of %1 is moved aside into %2").arg(target.Path(), aside));
    }

    TDatabaseCopier copier(from, target);
    try {
        copyAll(copier);
    } catch (const EQuorla& e) {
        if (!replaced.isEmpty())
            putBack(target.Path(), aside, replaced);
        return line.Failure(e.message());
    }
    try {
        settlePasswords(from, target);
    } catch (const EQuorla& e) {
        return line.Failure(e.message());
    }
    return TCommandLine::ExitSuccess;
}
