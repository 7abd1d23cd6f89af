// The dataset contract, kept by our own engine: format strings and index
// numbers, scan modes and positioning, keys, refusals, record locks between
// objects and processes, racing inserts, and bad files.

#include "IsamCode.h"
#include "QuorlaTest.h"
#include "TXIsamFile.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>

#include <array>
#include <csignal>
#include <cstring>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A record laid out like an alarm: flags, time (index 2), entry key (index 3),
// user key, user + time (index 5).
const QString AlarmFormat = QStringLiteral("&,X$*11,X$*11,$*11,X$*21");
constexpr std::size_t AlarmSize = 58;
using Alarm = std::array<char, AlarmSize>;

void putText(Alarm& a, std::size_t offset, const QByteArray& text)
{
    std::memcpy(a.data() + offset, text.constData(), std::size_t(text.size()));
}

Alarm makeAlarm(const QByteArray& user, const QByteArray& time, const QByteArray& entry = "0000000000")
{
    Alarm a{};
    a[0] = 1;
    putText(a, 4, time);
    putText(a, 15, entry);
    putText(a, 26, user);
    putText(a, 37, user + time);
    return a;
}

QByteArray textAt(const Alarm& a, std::size_t offset)
{
    return QByteArray(a.data() + offset);
}

QString key(qint64 n)
{
    return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0'));
}

// Writes one line per record read in `mode` from the current position.
QStringList scan(TXIsamFile& f, qint16 index, const QString& k, qint16 mode)
{
    QStringList keys;
    Alarm a{};
    while (f.Get(a, index, k, mode))
        keys << f.CurrentKey();
    return keys;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// A folder with an empty alarm-shaped dataset, opened on `f`.
QString newDataset(TXIsamFile& f, const QString& name = QStringLiteral("xisam"))
{
    const QString path = TestEnvironment::freshFolder(name) + QStringLiteral("/QLAlarms.Ism");
    if (!f.CreateDataset(path, 10, AlarmFormat) || !f.Open(path, 3))
        qFatal("cannot make a test dataset: %s", qPrintable(f.ErrorText()));
    return path;
}

// Runs `body` in a child process; the child's exit code is body's result.
template <typename Body>
pid_t runChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return pid;
}

int waitChild(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kills a child that a failed check left running, so no process outlives its test.
class ChildGuard
{
public:
    explicit ChildGuard(pid_t pid) : pid_(pid) {}
    ~ChildGuard()
    {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;

private:
    pid_t pid_;
};

} // namespace

class tst_XIsamFile : public QObject
{
    Q_OBJECT

private slots:
    void errorText_data();
    void errorText();
    void nextKey_data();
    void nextKey();
    void refusalsOnClosedObject_data();
    void refusalsOnClosedObject();
    void openTwiceKeepsFirst();
    void scanModes_data();
    void scanModes();
    void positioning();
    void alarmPollPattern();
    void writesDuringScan();
    void longScansCrossReadAhead();
    void insertOnlyAdds();
    void keysAreChecked_data();
    void keysAreChecked();
    void locksBetweenObjects();
    void locksBetweenProcesses();
    void racingInserts();
    void badFiles_data();
    void badFiles();
    void missingAndReadOnlyFolders();
    void createNeverOverwrites();
    void busyFileIsReported();
    void diskFullIsReported();
};

void tst_XIsamFile::errorText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("success") << 0 << "No error";
    QTest::newRow("not found") << 1 << "Object not found";
    QTest::newRow("busy") << 3 << "Multi-user access";
    QTest::newRow("not open") << 4 << "Invalid dataset reference";
    QTest::newRow("not a dataset") << 8 << "File is not isam format";
    QTest::newRow("disk full") << 11 << "No disk space available";
    QTest::newRow("damaged") << 15 << "Corrupted dataset";
    QTest::newRow("locked") << 19 << "Multi-user locks encountered";
    QTest::newRow("gap at 20") << 20 << "Unknown error";
    QTest::newRow("typo kept") << 21 << "Function no available";
    QTest::newRow("already open") << 23 << "A dataset is already open";
    QTest::newRow("past the table") << 24 << "Unknown error";
    QTest::newRow("negative") << -1 << "Unknown error";
}

void tst_XIsamFile::errorText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(TXIsamFile::ErrorText(code), text);
}

void tst_XIsamFile::nextKey_data()
{
    QTest::addColumn<QList<qint64>>("existing");
    QTest::addColumn<QString>("next");
    QTest::newRow("empty") << QList<qint64>{} << "0000000001";
    QTest::newRow("gaps below the largest") << QList<qint64>{1, 2, 41} << "0000000042";
    QTest::newRow("largest not last inserted") << QList<qint64>{900, 5} << "0000000901";
}

void tst_XIsamFile::nextKey()
{
    QFETCH(QList<qint64>, existing);
    QFETCH(QString, next);
    TXIsamFile f;
    newDataset(f);
    for (qint64 k : existing)
        QVERIFY2(f.Insert(makeAlarm("0000000001", "0000000100"), key(k)), qPrintable(f.ErrorText()));
    QCOMPARE(f.NextKey(), next);
    QVERIFY(f.Insert(makeAlarm("0000000001", "0000000200")));
    QCOMPARE(f.CurrentKey(), next);
}

void tst_XIsamFile::refusalsOnClosedObject_data()
{
    QTest::addColumn<int>("operation");
    for (int op = 0; op < 9; ++op)
        QTest::newRow(qPrintable(QStringLiteral("operation %1").arg(op))) << op;
}

void tst_XIsamFile::refusalsOnClosedObject()
{
    QFETCH(int, operation);
    TXIsamFile f;
    Alarm a{};
    bool ok = true;
    switch (operation) {
    case 0: ok = f.Get(a, 0, QString(), 16); break;
    case 1: ok = f.GetEqual(a, 0, key(1)); break;
    case 2: ok = f.Insert(a, key(1)); break;
    case 3: ok = f.Update(a, key(1)); break;
    case 4: ok = f.Delete(key(1)); break;
    case 5: ok = f.Lock(key(1)); break;
    case 6: ok = f.Unlock(key(1)); break;
    case 7: ok = f.Rewind(0); break;
    case 8: ok = f.Close(); break;
    }
    QVERIFY(!ok);
    QCOMPARE(f.LastError(), qint16(IsamNotOpen));
    QVERIFY(!f.Active());
    QCOMPARE(f.Handle(), 0);
    QCOMPARE(f.RecordCount(), -1);
    QVERIFY(f.Loaded());
}

void tst_XIsamFile::openTwiceKeepsFirst()
{
    TXIsamFile f;
    const QString path = newDataset(f);
    const qint32 handle = f.Handle();
    QVERIFY(handle != 0);
    QVERIFY(!f.Open(path, 3));
    QCOMPARE(f.LastError(), qint16(IsamAlreadyOpen));
    QVERIFY(!f.CreateDataset(path + QStringLiteral("2"), 10, AlarmFormat));
    QCOMPARE(f.LastError(), qint16(IsamAlreadyOpen));
    QVERIFY(!QFile::exists(path + QStringLiteral("2")));
    QVERIFY(f.Active());
    QCOMPARE(f.FileName(), path);
    QCOMPARE(f.Handle(), handle);
    QVERIFY(f.Insert(makeAlarm("0000000001", "0000000001")));
    QVERIFY(f.Close());
    QVERIFY(!f.Active());
    QVERIFY(f.FileName().isEmpty());
}

// Alarms: user 3 at times 100, 200 (twice: tie on the index value) and 86500;
// user 4 at 50; user 30 at 10. Keys are given in insertion order 1..6.
void tst_XIsamFile::scanModes_data()
{
    QTest::addColumn<qint16>("index");
    QTest::addColumn<QString>("start");   // GetEqual key; empty: Rewind
    QTest::addColumn<QString>("bound");
    QTest::addColumn<qint16>("mode");
    QTest::addColumn<QStringList>("keys");

    const auto k = [](std::initializer_list<int> ns) {
        QStringList l;
        for (int n : ns)
            l << key(n);
        return l;
    };
    QTest::newRow("16 by primary key") << qint16(0) << "" << "" << qint16(16) << k({1, 2, 3, 4, 5, 6});
    QTest::newRow("16 by time, ties by key") << qint16(2) << "" << "" << qint16(16) << k({6, 5, 1, 2, 3, 4});
    QTest::newRow("64 user 4 from the start fails at once") << qint16(5) << "" << "0000000004" << qint16(64) << k({});
    QTest::newRow("64 user 3 from the start") << qint16(5) << "" << "0000000003" << qint16(64) << k({1, 2, 3, 4});
    QTest::newRow("64 user 30 is not user 3") << qint16(5) << "0000000030" << "0000000030" << qint16(64) << k({6});
    QTest::newRow("64 user 4 after its look-up") << qint16(5) << "0000000004" << "0000000004" << qint16(64) << k({5});
    QTest::newRow("64 user 3 after its look-up") << qint16(5) << "0000000003" << "0000000003" << qint16(64)
                                                 << k({1, 2, 3, 4});
    QTest::newRow("256 a day excludes the next day's midnight")
        << qint16(2) << "0000000000" << "0000000200" << qint16(256) << k({6, 5, 1});
    QTest::newRow("1024 includes the bound") << qint16(2) << "0000000000" << "0000000200" << qint16(1024)
                                             << k({6, 5, 1, 2, 3});
    QTest::newRow("256 starting past the bound") << qint16(2) << "0000000300" << "0000000200" << qint16(256) << k({});
}

void tst_XIsamFile::scanModes()
{
    QFETCH(qint16, index);
    QFETCH(QString, start);
    QFETCH(QString, bound);
    QFETCH(qint16, mode);
    QFETCH(QStringList, keys);

    TXIsamFile f;
    newDataset(f);
    QVERIFY(f.Insert(makeAlarm("0000000003", "0000000100")));
    QVERIFY(f.Insert(makeAlarm("0000000003", "0000000200")));
    QVERIFY(f.Insert(makeAlarm("0000000003", "0000000200")));
    QVERIFY(f.Insert(makeAlarm("0000000003", "0000086500")));
    QVERIFY(f.Insert(makeAlarm("0000000004", "0000000050")));
    QVERIFY(f.Insert(makeAlarm("0000000030", "0000000010")));

    Alarm a{};
    if (start.isEmpty())
        QVERIFY(f.Rewind(index));
    else
        QVERIFY(!f.GetEqual(a, index, start));
    QCOMPARE(scan(f, index, bound, mode), keys);
    QCOMPARE(f.LastError(), qint16(IsamNotFound));
}

void tst_XIsamFile::positioning()
{
    TXIsamFile f;
    newDataset(f);
    for (const char* t : {"0000000100", "0000000200", "0000000300"})
        QVERIFY(f.Insert(makeAlarm("0000000001", t, "0000000009")));

    Alarm a{};
    QVERIFY(f.GetEqual(a, 2, QStringLiteral("0000000200")));
    QCOMPARE(f.CurrentKey(), key(2));
    QCOMPARE(textAt(a, 4), QByteArray("0000000200"));
    QCOMPARE(scan(f, 2, QString(), 16), QStringList{key(3)});

    QVERIFY(!f.GetEqual(a, 2, QStringLiteral("0000000150")));
    QCOMPARE(f.LastError(), qint16(IsamNotFound));
    QCOMPARE(scan(f, 2, QString(), 16), (QStringList{key(2), key(3)}));

    // A point read by another index moves the one position.
    QVERIFY(f.GetEqual(a, 2, QStringLiteral("0000000100")));
    QVERIFY(f.GetEqual(a, 0, key(3)));
    QVERIFY(!f.Get(a, 0, QString(), 16));

    // A scan read that fails its condition leaves the position alone.
    QVERIFY(f.Rewind(2));
    QVERIFY(f.Get(a, 2, QStringLiteral("0000000150"), 256));
    QVERIFY(!f.Get(a, 2, QStringLiteral("0000000150"), 256));
    QVERIFY(f.Get(a, 2, QString(), 16));
    QCOMPARE(f.CurrentKey(), key(2));
}

// The alarm timer's pattern: a 10-digit user key on the 20-digit user+time
// index never matches, and mode 64 then reads that user's alarms in time order.
void tst_XIsamFile::alarmPollPattern()
{
    TXIsamFile f;
    newDataset(f);
    QVERIFY(f.Insert(makeAlarm("0000000007", "0000005000")));
    QVERIFY(f.Insert(makeAlarm("0000000007", "0000001000")));
    QVERIFY(f.Insert(makeAlarm("0000000008", "0000000001")));
    QVERIFY(f.Insert(makeAlarm("0000000006", "0000009999")));

    Alarm a{};
    QVERIFY(!f.GetEqual(a, 5, QStringLiteral("0000000007")));
    QVERIFY(f.Get(a, 5, QStringLiteral("0000000007"), 64));
    QCOMPARE(textAt(a, 37), QByteArray("00000000070000001000"));
    QCOMPARE(f.CurrentKey(), key(2));

    // Handling it (here: delete) and repeating the look-up finds the next one.
    QVERIFY(f.Delete(f.CurrentKey()));
    QVERIFY(!f.GetEqual(a, 5, QStringLiteral("0000000007")));
    QVERIFY(f.Get(a, 5, QStringLiteral("0000000007"), 64));
    QCOMPARE(f.CurrentKey(), key(1));
    QVERIFY(!f.Get(a, 5, QStringLiteral("0000000007"), 64));
}

void tst_XIsamFile::writesDuringScan()
{
    TXIsamFile f;
    newDataset(f);
    for (int i = 1; i <= 40; ++i)
        QVERIFY(f.Insert(makeAlarm("0000000001", key(1000 + i).toLatin1())));

    // Delete every other record while scanning by primary key.
    QStringList seen;
    Alarm a{};
    QVERIFY(f.Rewind(0));
    while (f.Get(a, 0, QString(), 16)) {
        seen << f.CurrentKey();
        if (f.CurrentKey().toInt() % 2 == 0)
            QVERIFY(f.Delete(f.CurrentKey()));
    }
    QCOMPARE(seen.size(), 40);
    QCOMPARE(f.RecordCount(), 20);

    // Change a non-indexed field of each record while scanning by time.
    seen.clear();
    QVERIFY(f.Rewind(2));
    while (f.Get(a, 2, QString(), 16)) {
        seen << f.CurrentKey();
        putText(a, 15, "0000000077");
        QVERIFY(f.Update(a, f.CurrentKey()));
    }
    QCOMPARE(seen.size(), 20);
    QCOMPARE(QSet<QString>(seen.begin(), seen.end()).size(), 20);
    QVERIFY(f.GetEqual(a, 3, QStringLiteral("0000000077")));
}

// Scans far longer than any read-ahead batch, after look-ups that taught the
// dataset short and long scans, still return every record once and in order.
void tst_XIsamFile::longScansCrossReadAhead()
{
    TXIsamFile f;
    newDataset(f);
    const qint64 day = 86400 * 100;
    for (int i = 0; i < 700; ++i)
        QVERIFY(f.Insert(makeAlarm("0000000001", key(day + (i * 7919) % 86400).toLatin1())));
    QVERIFY(f.Insert(makeAlarm("0000000001", key(day + 86400).toLatin1())));
    QVERIFY(f.Insert(makeAlarm("0000000001", key(day - 1).toLatin1())));

    Alarm a{};
    for (int round = 0; round < 3; ++round) {
        // A short scan first, then the whole day.
        QVERIFY(!f.GetEqual(a, 2, key(day + 86399)));
        QVERIFY(f.Get(a, 2, key(day + 86400), 1024));
        QVERIFY(!f.Get(a, 2, key(day + 86400), 256));

        f.GetEqual(a, 2, key(day));
        int count = 1;
        QByteArray previous = textAt(a, 4);
        while (f.Get(a, 2, key(day + 86400), 256)) {
            QVERIFY(textAt(a, 4) >= previous);
            previous = textAt(a, 4);
            ++count;
        }
        QCOMPARE(count, 700);
    }
}

void tst_XIsamFile::insertOnlyAdds()
{
    TXIsamFile f;
    newDataset(f);
    const Alarm first = makeAlarm("0000000001", "0000000100");
    QVERIFY(f.Insert(first, key(5)));
    QVERIFY(!f.Insert(makeAlarm("0000000002", "0000000200"), key(5)));
    QCOMPARE(f.LastError(), qint16(IsamUpdateMode));
    QCOMPARE(f.CurrentKey(), key(5));
    Alarm back{};
    QVERIFY(f.GetEqual(back, 0, key(5)));
    QVERIFY(back == first);

    QVERIFY(!f.Update(first, key(6)));
    QCOMPARE(f.LastError(), qint16(IsamNotFound));
    QVERIFY(!f.Delete(key(6)));
    QCOMPARE(f.LastError(), qint16(IsamNotFound));
    QCOMPARE(f.RecordCount(), 1);
}

void tst_XIsamFile::keysAreChecked_data()
{
    QTest::addColumn<QString>("badKey");
    QTest::newRow("short") << "123";
    QTest::newRow("letters") << "00000000a1";
    QTest::newRow("long") << "00000000001";
    QTest::newRow("sign") << "-000000001";
}

void tst_XIsamFile::keysAreChecked()
{
    QFETCH(QString, badKey);
    TXIsamFile f;
    newDataset(f);
    QVERIFY(!f.Insert(makeAlarm("0000000001", "0000000001"), badKey));
    QCOMPARE(f.LastError(), qint16(IsamBadKey));
    QVERIFY(!f.Lock(badKey));
    QCOMPARE(f.LastError(), qint16(IsamBadKey));
    QCOMPARE(f.RecordCount(), 0);

    // A buffer of the wrong size is refused, not read past.
    std::array<char, 10> small{};
    QVERIFY(!f.Insert(small, key(1)));
    QCOMPARE(f.LastError(), qint16(IsamBadParameter));
}

void tst_XIsamFile::locksBetweenObjects()
{
    TXIsamFile a;
    const QString path = newDataset(a);
    TXIsamFile b;
    QVERIFY(b.Open(path, 3));

    QVERIFY(a.Lock(key(7)));
    QVERIFY(a.Lock(key(7)));   // taken again by its holder
    QVERIFY(!b.Lock(key(7)));
    QCOMPARE(b.LastError(), qint16(IsamLocked));
    QVERIFY(b.Lock(key(8)));   // other keys are free

    // Locks do not stop reads, and belong to the object: closing one releases
    // them, closing another object on the same file does not.
    QVERIFY(a.Insert(makeAlarm("0000000001", "0000000001"), key(7)));
    Alarm r{};
    QVERIFY(b.GetEqual(r, 0, key(7)));
    TXIsamFile c;
    QVERIFY(c.Open(path, 3));
    QVERIFY(!c.Lock(key(7)));
    QVERIFY(c.Close());
    QVERIFY(!b.Lock(key(7)));

    QVERIFY(a.Unlock(key(7)));
    QVERIFY(b.Lock(key(7)));
    QVERIFY(!a.Lock(key(8)));
    QVERIFY(b.Close());
    QVERIFY(a.Lock(key(8)));
}

void tst_XIsamFile::locksBetweenProcesses()
{
    TXIsamFile mine;
    const QString path = newDataset(mine);
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t child = runChild([&] {
        TXIsamFile theirs;
        if (!theirs.Open(path, 3) || !theirs.Lock(key(42)))
            return 1;
        const char byte = 'L';
        if (::write(ready[1], &byte, 1) != 1)
            return 2;
        for (;;)
            ::pause();
    });
    ChildGuard guard(child);
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);

    QVERIFY(!mine.Lock(key(42)));
    QCOMPARE(mine.LastError(), qint16(IsamLocked));
    QVERIFY(mine.Lock(key(43)));

    ::kill(child, SIGKILL);
    QCOMPARE(waitChild(child), -1);
    QVERIFY2(mine.Lock(key(42)), "a killed holder's lock must vanish with it");
}

// Two processes insert with empty keys for a while: both compute the same
// next key now and then. Every reported success must be there with its own
// bytes; every failure must be reported, none may overwrite.
void tst_XIsamFile::racingInserts()
{
    TXIsamFile reader;
    const QString path = newDataset(reader);
    const QString folder = QFileInfo(path).absolutePath();

    auto worker = [&](int id) {
        return [&, id] {
            TXIsamFile f;
            if (!f.Open(path, 3))
                return 10;
            QFile log(folder + QStringLiteral("/worker%1.log").arg(id));
            if (!log.open(QIODevice::WriteOnly))
                return 11;
            const auto deadline = ::time(nullptr) + 3;
            for (int seq = 0; ::time(nullptr) < deadline; ++seq) {
                const QByteArray tag = QByteArray::number(id) + "-" + QByteArray::number(seq);
                Alarm a = makeAlarm("000000000" + QByteArray::number(id), key(seq).toLatin1());
                putText(a, 15, tag.leftJustified(10, '.', true));
                if (f.Insert(a))
                    log.write("ok " + f.CurrentKey().toLatin1() + " " + tag + "\n");
                else
                    log.write("failed " + QByteArray::number(f.LastError()) + "\n");
            }
            log.close();
            return 0;
        };
    };
    const pid_t one = runChild(worker(1));
    const pid_t two = runChild(worker(2));
    ChildGuard guardOne(one), guardTwo(two);
    QCOMPARE(waitChild(one), 0);
    QCOMPARE(waitChild(two), 0);

    QSet<QByteArray> keys;
    int successes = 0, failures = 0;
    for (int id : {1, 2}) {
        const QList<QByteArray> lines = fileBytes(folder + QStringLiteral("/worker%1.log").arg(id)).split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.value(0) == "failed") {
                ++failures;
                QVERIFY2(parts.value(1) == "2" || parts.value(1) == "3", line.constData());
            } else if (parts.value(0) == "ok") {
                ++successes;
                QVERIFY2(!keys.contains(parts[1]), "two successes share a key");
                keys.insert(parts[1]);
                Alarm a{};
                QVERIFY(reader.GetEqual(a, 0, QString::fromLatin1(parts[1])));
                QCOMPARE(textAt(a, 15), parts[2].leftJustified(10, '.', true));
            }
        }
    }
    QVERIFY(successes > 50);
    QCOMPARE(reader.RecordCount(), successes);
    qInfo("racing inserts: %d stored, %d refused", successes, failures);
}

void tst_XIsamFile::badFiles_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("text file") << "text" << QList<int>{IsamNotDataset};
    QTest::newRow("empty file") << "empty" << QList<int>{IsamNotDataset};
    QTest::newRow("another program's database") << "foreign" << QList<int>{IsamNotDataset};
    QTest::newRow("truncated") << "truncate" << QList<int>{IsamCorrupt, IsamNotDataset};
    QTest::newRow("pages overwritten") << "scribble" << QList<int>{IsamCorrupt, IsamNotDataset};
}

void tst_XIsamFile::badFiles()
{
    QFETCH(QString, damage);
    QFETCH(QList<int>, codes);

    TXIsamFile f;
    const QString path = newDataset(f);
    for (int i = 0; i < 300; ++i)
        QVERIFY(f.Insert(makeAlarm("0000000001", key(i).toLatin1())));
    QVERIFY(f.Close());

    QFile file(path);
    if (damage == "text" || damage == "empty") {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (damage == "text")
            file.write("Dear colleagues,\nthe calendar has moved.\n");
        file.close();
    } else if (damage == "foreign") {
        QFile::remove(path);
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == "truncate") {
        QVERIFY(file.resize(file.size() / 2));
    } else {
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray junk(4096 * 3, '\x5a');
        file.seek(4096);
        file.write(junk);
        file.close();
    }
    const QByteArray before = fileBytes(path);

    // The failure shows at open or at the first read that meets the damage;
    // either way it is a clear code, not a crash, and the file is untouched.
    int code = IsamOk;
    if (!f.Open(path, 3)) {
        code = f.LastError();
    } else {
        Alarm a{};
        QVERIFY(f.Rewind(2));
        while (f.Get(a, 2, QString(), 16)) {
        }
        code = f.LastError();
        if (code == IsamNotFound && !f.Insert(a))
            code = f.LastError();
        f.Close();
    }
    QVERIFY2(codes.contains(code), qPrintable(QStringLiteral("code %1").arg(code)));
    QCOMPARE(fileBytes(path), before);
}

void tst_XIsamFile::missingAndReadOnlyFolders()
{
    TXIsamFile f;
    const QString missing = TestEnvironment::root() + QStringLiteral("/nowhere/QLCat.Ism");
    QVERIFY(!f.Open(missing, 3));
    QCOMPARE(f.LastError(), qint16(IsamSystemCall));
    QVERIFY(!f.Active());
    QVERIFY(!f.CreateDataset(missing, 10, QStringLiteral("X$*31")));
    QCOMPARE(f.LastError(), qint16(IsamSystemCall));
    QVERIFY(!QDir(TestEnvironment::root() + QStringLiteral("/nowhere")).exists());

    if (::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("readonly"));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(!f.CreateDataset(folder + QStringLiteral("/QLCat.Ism"), 10, QStringLiteral("X$*31")));
    QCOMPARE(f.LastError(), qint16(IsamSystemCall));
    QVERIFY(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void tst_XIsamFile::createNeverOverwrites()
{
    TXIsamFile f;
    const QString path = newDataset(f);
    QVERIFY(f.Insert(makeAlarm("0000000001", "0000000001")));
    QVERIFY(f.Close());
    const QByteArray before = fileBytes(path);
    QVERIFY(!f.CreateDataset(path, 10, AlarmFormat));
    QCOMPARE(f.LastError(), qint16(IsamNameInUse));
    QCOMPARE(fileBytes(path), before);

    QVERIFY(!f.CreateDataset(path + QStringLiteral(".x"), 10, QStringLiteral("&,Q$*3")));
    QCOMPARE(f.LastError(), qint16(IsamBadFormat));
    QVERIFY(!QFile::exists(path + QStringLiteral(".x")));
}

// Another process keeps the file's write lock for longer than the busy timeout.
void tst_XIsamFile::busyFileIsReported()
{
    TXIsamFile f;
    const QString path = newDataset(f);
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t child = runChild([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
            return 1;
        if (sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return 2;
        const char byte = 'B';
        if (::write(ready[1], &byte, 1) != 1)
            return 3;
        for (;;)
            ::pause();
    });
    ChildGuard guard(child);
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);

    QVERIFY(!f.Insert(makeAlarm("0000000001", "0000000001")));
    QCOMPARE(f.LastError(), qint16(IsamBusy));
    ::kill(child, SIGKILL);
    waitChild(child);

    // The holder is gone: the next write goes through.
    QVERIFY2(f.Insert(makeAlarm("0000000001", "0000000001")), qPrintable(f.ErrorText()));
    QCOMPARE(f.RecordCount(), 1);
}

// A file-size limit makes the disk "full" for one child process.
void tst_XIsamFile::diskFullIsReported()
{
    TXIsamFile f;
    const QString path = newDataset(f);
    QVERIFY(f.Insert(makeAlarm("0000000001", "0000000001")));
    const qint64 size = QFileInfo(path).size();
    const pid_t child = runChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {rlim_t(size + 8192), rlim_t(size + 8192)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TXIsamFile g;
        if (!g.Open(path, 3))
            return 100;
        for (int i = 0; i < 10000; ++i)
            if (!g.Insert(makeAlarm("0000000002", key(i).toLatin1())))
                return int(g.LastError());
        return 101;
    });
    const int code = waitChild(child);
    QVERIFY2(code == IsamDiskFull || code == IsamIoError, qPrintable(QString::number(code)));

    // What was stored before is intact and the dataset still works.
    Alarm a{};
    QVERIFY(f.GetEqual(a, 0, key(1)));
    QVERIFY2(f.Insert(makeAlarm("0000000003", "0000000003")), qPrintable(f.ErrorText()));
}

QUORLA_TEST_CORE_MAIN(tst_XIsamFile)
#include "tst_xisamfile.moc"
