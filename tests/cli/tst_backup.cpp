// quorla_backup of a database that the stress program writes, killing its
// workers, on a folder and on a server: every backup made passes the checks
// made here and restores with quorla_migrate to a database that opens and
// passes them too; a backup that could not be made leaves nothing, and
// --keep leaves the newest.

#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TestEnvironment.h"

#include "AlarmRecord.h"
#include "TIsamFormat.h"
#include "TQuorlaDB.h"
#include "TQuorlaDatasets.h"
#include "TScriptedServices.h"
#include "TXIsamFile.h"

#include <QDir>
#include <QProcess>
#include <QHash>
#include <QSet>

#include <sqlite3.h>

namespace {

int run(const QString& program, const QStringList& arguments, QString& said)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120'000) && process.exitStatus() == QProcess::NormalExit;
    said = QString::fromLocal8Bit(process.readAll());
    return ended ? process.exitCode() : -1;
}

bool sound(const QString& file)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    const bool ok = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK
        && sqlite3_step(st) == SQLITE_ROW && qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok") == 0
        && sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return ok;
}

// Each file sound (a folder), each key mark at or above its dataset's
// largest key, every alarm's entry there, no user with two alarms for one
// entry.
QStringList faults(const QString& location)
{
    const TDatabaseLocation where(location);
    QStringList faults;
    QSet<QString> entries;
    QHash<QString, bool> pairs;
    QList<AlarmRecord> alarms;
    for (const TQuorlaDatasets::Dataset& d : TQuorlaDatasets::All()) {
        const QString name = where.DatasetName(d.fileName);
        TXIsamFile file;
        if (d.optional && !file.Exists(name))
            continue;
        if ((where.IsFolder() && !sound(name)) || !file.Open(name))
            faults << d.fileName + QStringLiteral(" unsound");
        TIsamFormat format;
        format.parse(d.format);
        QByteArray record(qsizetype(format.recordSize()), 0);
        QString largest, mark;
        while (file.Get(std::span(record.data(), record.size()), 0, QString(), TXIsamFile::ScanNext)) {
            largest = file.CurrentKey();
            if (d.fileName == AlarmRecord::FileName)
                std::copy(record.cbegin(), record.cend(), alarms.emplace_back().bytes().begin());
            entries << d.fileName + largest;
        }
        if (!file.KeyMark(mark) || (!mark.isEmpty() && mark < largest))
            faults << d.fileName + QStringLiteral(" mark ") + mark + QStringLiteral(" below ") + largest;
    }
    for (const AlarmRecord& alarm : alarms) {
        if (!entries.contains(QStringLiteral("QLDayEnt.Ism") + alarm.DayEntryKey()))
            faults << QStringLiteral("alarm without entry ") + alarm.DayEntryKey();
        if (std::exchange(pairs[alarm.DayEntryKey() + alarm.UserKey()], true))
            faults << QStringLiteral("alarm twice ") + alarm.DayEntryKey() + alarm.UserKey();
    }
    return faults;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
    }

    void backupsWhileWorking_data()
    {
        QTest::addColumn<bool>("onServer");
        QTest::newRow("folder") << false;
        QTest::newRow("server") << true;
    }
    void backupsWhileWorking()
    {
        QFETCH(bool, onServer);
        const QString root = TestEnvironment::freshFolder(onServer ? QStringLiteral("server") : QStringLiteral("folder"));
        const QString database = onServer ? server_->createDatabase(QStringLiteral("stressed")) : root + QStringLiteral("/round/");
        const QString backups = root + QStringLiteral("/backups");
        QProcess round;
        round.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList server{QStringLiteral("--database"), database};
        round.start(QStringLiteral(QUORLA_STRESS_PROGRAM),
                    QStringList{QStringLiteral("run")} + (onServer ? server : QStringList())
                        + QStringList{QStringLiteral("--workers"), QStringLiteral("3"), QStringLiteral("--seconds"),
                                      QStringLiteral("15"), QStringLiteral("--kills"), QStringLiteral("3"),
                                      root + QStringLiteral("/round")});
        // How many backups fit in the round depends on the machine's load: at
        // least one must be made while the workers write, and three in all.
        int made = 0;
        int whileWorking = 0;
        bool working = true;
        QString said;
        while (working || made < 3) {
            working = working && !round.waitForFinished(500);
            const int status
                = run(QStringLiteral(QUORLA_BACKUP_PROGRAM), {QStringLiteral("--keep"), QStringLiteral("2"), database, backups}, said);
            const QStringList kept = QDir(backups).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
            QVERIFY2(kept.size() <= 2 && kept.filter(QStringLiteral("partial")).isEmpty(), qPrintable(kept.join(' ')));
            // Once the database is there, each backup is made.
            QVERIFY2(status == 0 || (made == 0 && working), qPrintable(said));
            if (status != 0)
                continue;
            ++made;
            whileWorking += working ? 1 : 0;
            const QString copy = backups + QLatin1Char('/') + kept.last() + QLatin1Char('/');
            QStringList found = faults(copy);
            QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
            const QString restored = onServer ? server_->createDatabase(QStringLiteral("restored%1").arg(made))
                                              : root + QStringLiteral("/restored/");
            const QStringList replace{QStringLiteral("--replace")};
            QVERIFY2(run(QStringLiteral(QUORLA_MIGRATE_PROGRAM), (onServer ? QStringList() : replace) + QStringList{copy, restored}, said) == 0,
                     qPrintable(said));
            found = faults(restored);
            QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
            TQuorlaDB opened(TScriptedServices::ofTest(), TDatabaseLocation(restored), TQuorlaDB::Opening::ExistingOnly);
        }
        said = QString::fromUtf8(round.readAll());
        // Qt cuts a failure's message short, before the checker's faults.
        if (!said.contains(QLatin1String("check: nothing lost or damaged")))
            qWarning().noquote() << said;
        QVERIFY2(said.contains(QLatin1String("check: nothing lost or damaged")), qPrintable(said));
        QVERIFY2(whileWorking >= 1, qPrintable(QString::number(made)));
    }
};

QUORLA_TEST_CORE_MAIN(TestBackup)
#include "tst_backup.moc"
