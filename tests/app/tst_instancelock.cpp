#include "QuorlaTest.h"
#include "TInstanceLock.h"

#include <QLockFile>

#include <sys/wait.h>
#include <unistd.h>

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
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The "crashed" instance: takes the lock and dies without releasing it.
            auto* lock = new QLockFile(path);
            ::_exit(lock->tryLock(0) ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(QFile::exists(path));

        TInstanceLock next(path);
        QVERIFY(next.Acquire());
    }
};

QUORLA_TEST_CORE_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
