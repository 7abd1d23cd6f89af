// The stress round on a database server that is restarted under the workers,
// fast (sessions ended, a clean shutdown) and at once (as if it crashed): a
// write whose answer was lost counts as unfinished, never as lost, and the
// checker still ends content, with a trail record for every acknowledged
// change, workers killed or not. And how the checker judges one write.

#include "CategoryRecord.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TRecordWriter.h"
#include "TestDatabase.h"
#include "TestFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

class TestStressRestarts : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
    }

    // A write to category 1 logged in TStressLog's phases (B, A made, F
    // failed, K ended well, X failed; k killed): on a server made only once
    // its command ended well, either way when a kill or an error cut it, or
    // when it failed in a command that failed; on a folder made once made.
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
        static int round = 0;
        const QString name = QStringLiteral("judged%1").arg(++round);
        const QString folder = TestEnvironment::freshFolder(name) + QLatin1Char('/');
        const QString location = TestDatabase::use(onServer ? server_->createDatabase(name) : folder);
        const CategoryRecord category = TestDatabase::category(QStringLiteral("Travel"));
        TQuorlaDB database(TScriptedServices::ofTest());
        QVERIFY(!stored || database.Categories().Insert(category.bytes()));
        const QByteArray bytes = TRecordWriter::bytesOf(category.bytes()).toHex();
        QByteArray log;
        for (int time = 1; time <= phases.size(); ++time) {
            const char phase = phases[time - 1].toLatin1();
            const QByteArray write = phase == 'K' || phase == 'X' ? "- - - -"
                                                                  : "C I 0000000001 " + (phase == 'F' ? "-" : bytes);
            if (phase != 'k')
                log += QByteArray::number(time) + ' ' + phase + " 1 test " + write + '\n';
        }
        const QString logs = folder + QStringLiteral("logs/");
        QVERIFY(QDir().mkpath(logs) && TestFile::write(logs + QStringLiteral("worker-01-1.log"), log));
        if (phases.endsWith(QLatin1Char('k')))
            QVERIFY(TestFile::write(folder + QStringLiteral("kills.txt"), "worker-01-1.log 9"));
        QProcess check;
        check.start(QStringLiteral(QUORLA_STRESS_PROGRAM), QStringList{QStringLiteral("check")}
                        + (onServer ? QStringList{QStringLiteral("--database"), location} : QStringList()) << folder);
        QVERIFY(check.waitForFinished(150'000));
        const QString said = QString::fromUtf8(check.readAllStandardOutput());
        QVERIFY2(said.contains(QLatin1String("C 0000000001: lost")) == lost
                     && said.contains(QLatin1String("check: nothing lost")) == !lost,
                 qPrintable(said));
    }

    void restartsLoseNothing()
    {
        PostgresCluster& server = *server_;
        const QString uri = server.createDatabase(QStringLiteral("stress"));
        QVERIFY2(!uri.isEmpty(), qPrintable(server.error()));
        QTemporaryDir logs;
        QProcess round;
        round.setProcessChannelMode(QProcess::MergedChannels);
        round.start(QStringLiteral(QUORLA_STRESS_PROGRAM),
                    {QStringLiteral("run"), QStringLiteral("--database"), uri, QStringLiteral("--workers"),
                     QStringLiteral("3"), QStringLiteral("--seconds"), QStringLiteral("24"),
                     QStringLiteral("--kills"), QStringLiteral("4"), logs.filePath(QStringLiteral("round"))});
        QVERIFY(round.waitForStarted());
        // Fast, at once, fast again, spread over the round; away for two
        // seconds each time.
        for (const bool fast : {true, false, true}) {
            QTest::qWait(5'000);
            QVERIFY2(server.stop(fast), qPrintable(server.error()));
            QTest::qWait(2'000);
            QVERIFY2(server.start(), qPrintable(server.error()));
        }
        QVERIFY(round.waitForFinished(150'000));
        const QString said = QString::fromUtf8(round.readAll());
        // A failed round's logs stay for reading.
        const bool passed = round.exitStatus() == QProcess::NormalExit && round.exitCode() == 0
                            && said.contains(QLatin1String("check: nothing lost or damaged"));
        logs.setAutoRemove(passed);
        // Qt cuts a long failure message: the checker's verdict stands at
        // the end of the round's output, so the whole of it goes to the log.
        if (!passed)
            qWarning().noquote() << said;
        QVERIFY2(passed, qPrintable(said + QStringLiteral("\nthe round's logs: ") + logs.path()));
    }
};

QUORLA_TEST_CORE_MAIN(TestStressRestarts)
#include "tst_stressrestarts.moc"
