#include "QuorlaTest.h"
#include "TInstanceLock.h"
#include "TestChild.h"

#include <QLockFile>


class TestInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    void secondHolderIsRefusedUntilReleased()
    {
        const QString path = TestEnvironment::freshFolder(QStringLiteral("lock")) + QStringLiteral("/Quorla.lock");
        TInstanceLock second(path);
        {
            TInstanceLock first(path);
            QVERIFY(first.Acquire());
            QVERIFY(!second.Acquire());
            // Asking again changes nothing for either.
            QVERIFY(first.Acquire() && first.Held());
            QVERIFY(!second.Acquire() && !second.Held());
        }
        QVERIFY(second.Acquire());
    }
    void lockOfACrashedInstanceIsTakenOver()
    {
        const QString path = TestEnvironment::freshFolder(QStringLiteral("lock")) + QStringLiteral("/Quorla.lock");
        // The "crashed" instance: takes the lock and dies without releasing it.
        TestChild crashed([&path] { return (new QLockFile(path))->tryLock(0) ? 0 : 1; });
        QCOMPARE(crashed.wait(), 0);
        QVERIFY(QFile::exists(path));

        TInstanceLock next(path);
        QVERIFY(next.Acquire());
    }
};

QUORLA_TEST_CORE_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
