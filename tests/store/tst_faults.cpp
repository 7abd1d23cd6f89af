// Faults under the engine: every failing read, write, sync, lock or journal
// removal during an operation reaches the caller as a result code, the
// next operation works, and the dataset holds the old or the new record, whole.

#include "DayEntryRecord.h"
#include "FaultVfs.h"
#include "IsamCode.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TXIsamFile.h"
#include "TestDatabase.h"

#include <QFile>

#include <sqlite3.h>

namespace {

using Op = FaultVfs::Op;
const QString Format = DayEntryRecord::Format;
constexpr int Records = 40;
const QString Target = RecordKey::format(2);

// Record `n` in `version`: every byte set, the start time (indexed) derived from both.
QByteArray record(int n, char version)
{
    QByteArray r(DayEntryRecord::Size, char('A' + n % 26));
    r[0] = version;
    r.replace(6, 11, RecordKey::format(n * 10 + version).toLatin1() + '\0');
    return r;
}

// What the dataset holds under `key`: the bytes, or empty when absent.
QByteArray stored(TXIsamFile& f, const QString& key)
{
    QByteArray r(DayEntryRecord::Size, '\0');
    return f.GetEqual(r, 0, key) ? r : QByteArray();
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

    QString template_;
    int injected_ = 0;

private slots:
    void initTestCase()
    {
        FaultVfs::install();
        template_ = TestEnvironment::freshFolder(QStringLiteral("template")) + QStringLiteral("/QLDayEnt.Ism");
        TXIsamFile f;
        QVERIFY(f.CreateDataset(template_, 10, Format) && f.Open(template_));
        for (int n = 1; n <= Records; ++n)
            QVERIFY(f.Insert(record(n, 'o')));
    }
    void cleanupTestCase()
    {
        FaultVfs::uninstall();
        qInfo("faults injected: %d", injected_);
    }

    void operationsSurviveFaults_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("times");
        QTest::addColumn<IsamCode>("expected");
        const struct { const char* name; Op op; int code; int times; IsamCode expected; } faults[] = {
            {"disk full", Op::Write, SQLITE_FULL, -1, IsamDiskFull},
            {"write error once", Op::Write, SQLITE_IOERR_WRITE, 1, IsamIoError},
            {"read error once", Op::Read, SQLITE_IOERR_READ, 1, IsamIoError},
            {"sync error", Op::Sync, SQLITE_IOERR_FSYNC, 1, IsamIoError},
            {"lock error", Op::Lock, SQLITE_IOERR_LOCK, 1, IsamIoError},
            {"busy once", Op::Lock, SQLITE_BUSY, 1, IsamBusy},
            {"journal not removed", Op::Delete, SQLITE_IOERR_DELETE, 1, IsamIoError},
        };
        // One row per kind for writing and one for reading, the operation rotating.
        const char* writes[] = {"insert", "update", "delete"};
        const char* reads[] = {"read", "scan"};
        int n = 0;
        for (const auto& f : faults) {
            for (const char* operation : {writes[n % 3], reads[n % 2]})
                QTest::addRow("%s, %s", operation, f.name) << operation << int(f.op) << f.code << f.times << f.expected;
            ++n;
        }
        QTest::newRow("insert, busy stays") << "insert" << int(Op::Lock) << SQLITE_BUSY << -1 << IsamBusy;
    }

    // The fault hits the 1st, 2nd, ... call until the operation no longer makes that many.
    void operationsSurviveFaults()
    {
        QFETCH(QString, operation);
        QFETCH(int, op);
        QFETCH(int, code);
        QFETCH(int, times);
        QFETCH(IsamCode, expected);
        const QString path = TestEnvironment::freshFolder(QStringLiteral("faults")) + QStringLiteral("/QLDayEnt.Ism");
        const bool writes = operation != "read" && operation != "scan";
        const QString key = operation == "insert" ? RecordKey::format(Records + 1) : Target;
        const QByteArray before = operation == "insert" ? QByteArray() : record(2, 'o');
        const QByteArray after = operation == "update" ? record(2, 'n')
            : operation == "insert" ? record(Records + 1, 'n') : operation == "delete" ? QByteArray() : before;
        // A busy file waits out the busy timeout: one point suffices.
        const int lastPoint = code == SQLITE_BUSY && times < 0 ? 1 : 500;
        for (int nth = 1; nth <= lastPoint; ++nth) {
            QFile::remove(path);
            QVERIFY(QFile::copy(template_, path));
            TXIsamFile f;
            QVERIFY(f.Open(path));
            QByteArray r(DayEntryRecord::Size, '\0');
            FaultVfs::arm(Op(op), nth, code, times);
            bool ok = false;
            if (operation == "insert")
                ok = f.Insert(after);
            else if (operation == "update")
                ok = f.Update(after, key);
            else if (operation == "delete")
                ok = f.Delete(key);
            else if (operation == "read")
                ok = f.GetEqual(r, 2, QString::fromLatin1(record(2, 'o').mid(6, 10)));
            else {
                int n = 0;
                for (f.Rewind(2); f.Get(r, 2, QString(), TXIsamFile::ScanNext); ++n)
                    QCOMPARE(r, record(int(RecordKey::parse(f.CurrentKey())), 'o'));
                ok = n == Records && f.LastError() == IsamNotFound;
            }
            const int fired = FaultVfs::fired();
            FaultVfs::disarm();
            if (fired == 0)
                break;
            injected_ += fired;
            const QString at = QStringLiteral("fault at call %1").arg(nth);
            if (!ok) {
                QVERIFY2(f.LastError() == expected, qPrintable(at + ": code " + QString::number(f.LastError())));
                QCOMPARE(f.ErrorText(), TXIsamFile::ErrorText(expected));
            }
            // The program goes on with the same object.
            QVERIFY2(stored(f, RecordKey::format(1)) == record(1, 'o'), qPrintable(at + ": " + f.ErrorText()));
            QVERIFY2(f.Insert(record(99, 'o'), RecordKey::format(99)), qPrintable(at + ": " + f.ErrorText()));
            QVERIFY(f.Close());

            QCOMPARE(TestDatabase::sqlOnFile(path, "PRAGMA integrity_check"), QStringLiteral("ok"));
            TXIsamFile g;
            QVERIFY(g.Open(path));
            const QByteArray now = stored(g, key);
            QVERIFY2(now == after || (!(ok && writes) && now == before), qPrintable(at + ": neither old nor new"));
            QCOMPARE(g.RecordCount(), Records + 1 + (now.isEmpty() ? -1 : 0) + (operation == "insert" ? 1 : 0));
        }
    }

};

QUORLA_TEST_CORE_MAIN(tst_Faults)
#include "tst_faults.moc"
