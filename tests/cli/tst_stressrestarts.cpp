// The stress round on a database server that is restarted under the workers,
// fast (sessions ended, a clean shutdown) and at once (as if it crashed), and
// workers killed meanwhile: a write whose answer was lost counts as
// unfinished, never as lost, and the checker still ends content, with a trail
// record for every acknowledged change - while a loss is still found.

#include "CategoryRecord.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TRecordWriter.h"
#include "TestDatabase.h"
#include "TestFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// A worker's log in `folder` of one write of `bytes` to category 1, in
// TStressLog's phases (B, A made, F failed, K ended well, X failed), "k" a kill.
void writeLog(const QString& folder, const QString& phases, const QByteArray& bytes)
{
    QDir().mkpath(folder + QStringLiteral("logs"));
    QByteArray log;
    for (int time = 1; time <= phases.size(); ++time) {
        const char phase = phases[time - 1].toLatin1();
        const QByteArray write = "C I 0000000001 " + (phase == 'F' ? QByteArray("-") : bytes.toHex());
        if (phase == 'k')
            TestFile::write(folder + QStringLiteral("kills.txt"), "worker-01-1.log " + QByteArray::number(time));
        else
            log += QByteArray::number(time) + ' ' + phase + " 1 test " + (QByteArray("BAF").contains(phase) ? write : "- - - -") + '\n';
    }
    TestFile::write(folder + QStringLiteral("logs/worker-01-1.log"), log);
}

} // namespace

class TestStressRestarts : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;
    QString run(const QStringList& arguments)
    {
        QProcess round;
        round.setProcessChannelMode(QProcess::MergedChannels);
        round.start(QStringLiteral(QUORLA_STRESS_PROGRAM), arguments);
        round.waitForFinished(150'000);
        return QString::fromUtf8(round.readAll());
    }

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
    }

    // One write as the checker judges it: made only once its command ended
    // well, on a server once every commit was answered; a kill or an error
    // leaves it either way, and a failed write too, in a failed command.
    void judgement_data()
    {
        QTest::addColumn<bool>("onServer");
        QTest::addColumn<QString>("phases");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("lost");
        QTest::newRow("killed before its commit") << true << "BAk" << false << false;
        QTest::newRow("failed with the connection, yet made") << true << "BFX" << true << false;
        QTest::newRow("commit answered, then lost") << true << "BAK" << false << true;
        QTest::newRow("folder: made, then lost") << false << "BAk" << false << true;
    }
    void judgement()
    {
        QFETCH(bool, onServer);
        QFETCH(QString, phases);
        QFETCH(bool, stored);
        QFETCH(bool, lost);
        static int made = 0;
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("judged%1").arg(++made)) + QLatin1Char('/');
        const QString location = onServer ? server_->createDatabase(QStringLiteral("judged%1").arg(made)) : folder;
        const CategoryRecord category = TestDatabase::category(QStringLiteral("Travel"));
        TestDatabase::use(location);
        {
            TQuorlaDB database(TScriptedServices::ofTest());
            QVERIFY(!stored || database.Categories().Insert(category.bytes()));
        }
        writeLog(folder, phases, TRecordWriter::bytesOf(category.bytes()));
        const QStringList server = onServer ? QStringList{QStringLiteral("--database"), location} : QStringList();
        const QString said = run(QStringList{QStringLiteral("check")} + server + QStringList{folder});
        QVERIFY2(said.contains(QLatin1String("C 0000000001: lost")) == lost
                     && said.contains(QLatin1String("check: nothing lost or damaged")) == !lost,
                 qPrintable(said));
    }

    void restartsLoseNothing()
    {
        const QString uri = server_->createDatabase(QStringLiteral("stress"));
        QVERIFY2(!uri.isEmpty(), qPrintable(server_->error()));
        QTemporaryDir logs;
        QProcess round;
        round.setProcessChannelMode(QProcess::MergedChannels);
        round.start(QStringLiteral(QUORLA_STRESS_PROGRAM),
                    {QStringLiteral("run"), QStringLiteral("--database"), uri, QStringLiteral("--workers"),
                     QStringLiteral("3"), QStringLiteral("--seconds"), QStringLiteral("24"), QStringLiteral("--kills"),
                     QStringLiteral("4"), logs.filePath(QStringLiteral("round"))});
        QVERIFY(round.waitForStarted());
        // Fast, at once, fast again, spread over the round; away for two
        // seconds each time.
        for (const bool fast : {true, false, true}) {
            QTest::qWait(5'000);
            QVERIFY2(server_->stop(fast), qPrintable(server_->error()));
            QTest::qWait(2'000);
            QVERIFY2(server_->start(), qPrintable(server_->error()));
        }
        QVERIFY(round.waitForFinished(150'000));
        const QString said = QString::fromUtf8(round.readAll());
        // A failed round's logs stay for reading.
        const bool passed = round.exitStatus() == QProcess::NormalExit && round.exitCode() == 0
                            && said.contains(QLatin1String("check: nothing lost or damaged"));
        logs.setAutoRemove(passed);
        QVERIFY2(passed, qPrintable(said + QStringLiteral("\nthe round's logs: ") + logs.path()));
    }
};

QUORLA_TEST_CORE_MAIN(TestStressRestarts)
#include "tst_stressrestarts.moc"
