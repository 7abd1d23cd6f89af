// The stress round on a database server that is restarted under the workers,
// fast (sessions ended, a clean shutdown) and at once (as if it crashed): a
// write whose answer was lost counts as unfinished, never as lost, and the
// checker still ends content, with a trail record for every acknowledged
// change.

#include "PostgresCluster.h"
#include "QuorlaTest.h"

#include <QProcess>
#include <QTemporaryDir>

class TestStressRestarts : public QObject
{
    Q_OBJECT

private slots:
    void restartsLoseNothing()
    {
        PostgresCluster server;
        QVERIFY2(server.error().isEmpty(), qPrintable(server.error()));
        const QString uri = server.createDatabase(QStringLiteral("stress"));
        QVERIFY2(!uri.isEmpty(), qPrintable(server.error()));
        QTemporaryDir logs;
        QProcess round;
        round.setProcessChannelMode(QProcess::MergedChannels);
        round.start(QStringLiteral(QUORLA_STRESS_PROGRAM),
                    {QStringLiteral("run"), QStringLiteral("--database"), uri, QStringLiteral("--workers"),
                     QStringLiteral("3"), QStringLiteral("--seconds"), QStringLiteral("24"),
                     logs.filePath(QStringLiteral("round"))});
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
        QVERIFY2(passed, qPrintable(said + QStringLiteral("\nthe round's logs: ") + logs.path()));
    }
};

QUORLA_TEST_CORE_MAIN(TestStressRestarts)
#include "tst_stressrestarts.moc"
