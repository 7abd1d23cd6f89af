// The dataset contract, kept by both engines: scan modes, keys, refusals,
// record locks between objects, racing inserts. The program runs
// against a folder, and with QUORLA_TEST_ENGINE=postgres against a private
// database server that it starts itself.

#include "IsamCode.h"
#include "TIsamEngine.h"
#include "PostgresCluster.h"
#include "TDatabaseLocation.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TXIsamFile.h"
#include "TestChild.h"
#include "TestDatabase.h"

#include <QFile>
#include <QSet>

#include <array>
#include <cstring>
#include <memory>

namespace {

// Laid out like an alarm: flags, time (index 2), entry key (index 3), user key,
// user + time (index 5).
const QString AlarmFormat = QStringLiteral("&,X$*11,X$*11,$*11,X$*21");
using Alarm = std::array<char, 58>;

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

QByteArray textAt(const Alarm& a, std::size_t offset) { return QByteArray(a.data() + offset); }
QString key(qint64 n) { return RecordKey::format(n); }
QByteArray timeText(qint64 n) { return key(n).toLatin1(); }

QStringList keys(std::initializer_list<int> ns)
{
    QStringList l;
    for (int n : ns)
        l << key(n);
    return l;
}

// The keys read in `mode` from the current position until a read fails.
QStringList scan(TXIsamFile& f, qint16 index, const QString& bound, qint16 mode)
{
    QStringList read;
    Alarm a{};
    while (f.Get(a, index, bound, TXIsamFile::ScanMode(mode)))
        read << f.CurrentKey();
    return read;
}

// The server of a run against one; null for a run against folders.
std::unique_ptr<PostgresCluster> server;
QString serverDatabase;

// The name of a dataset that does not exist yet.
QString freshName()
{
    static int serial = 0;
    if (server)
        return TDatabaseLocation(serverDatabase).DatasetName(QStringLiteral("t%1.Ism").arg(++serial));
    return TestEnvironment::freshFolder(QStringLiteral("xisam")) + QStringLiteral("/QLAlarms.Ism");
}

// A new, empty alarm-shaped dataset, opened on `f` unless it is null.
QString newDataset(TXIsamFile* f)
{
    const QString path = freshName();
    TXIsamFile maker;
    if (!maker.CreateDataset(path, 10, AlarmFormat) || (f && !f->Open(path)))
        qFatal("cannot make a test dataset: %s", qPrintable(maker.ErrorText() + (f ? f->ErrorText() : QString())));
    return path;
}
QString newDataset(TXIsamFile& f) { return newDataset(&f); }

// `files` on one server session, that of the dataset `path`.
void shareConnection(const QString& path, std::initializer_list<TXIsamFile*> files)
{
    const auto connection = TIsamEngine::forName(path).connect(path);
    for (TXIsamFile* file : files)
        file->ShareConnection(connection);
}

} // namespace

class tst_XIsamFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QUORLA_TEST_SERVER(server);
        if (server)
            QVERIFY2(!(serverDatabase = server->createDatabase("contract")).isEmpty(), qPrintable(server->error()));
    }
    void cleanupTestCase() { server.reset(); }

    // Keys are never reused: the mark of the largest key ever held survives
    // deletes, a file made before the mark existed starts from its largest,
    // and a mark raised by a copy of the database only ever goes up.
    void nextKey_data()
    {
        using Keys = QList<qint64>;
        QTest::addColumn<Keys>("existing");
        QTest::addColumn<Keys>("deleted");
        QTest::addColumn<bool>("withoutMark");
        QTest::addColumn<qint64>("raised");
        QTest::addColumn<qint64>("next");
        QTest::newRow("empty") << Keys{} << Keys{} << false << 0LL << 1LL;
        QTest::newRow("gaps below the largest") << Keys{1, 2, 41} << Keys{} << false << 0LL << 42LL;
        QTest::newRow("largest not last inserted") << Keys{900, 5} << Keys{} << false << 0LL << 901LL;
        QTest::newRow("largest deleted") << Keys{1, 2, 3} << Keys{3, 2} << false << 0LL << 4LL;
        QTest::newRow("file without the mark") << Keys{1, 2, 3} << Keys{3} << true << 0LL << 3LL;
        QTest::newRow("mark raised in an empty dataset") << Keys{} << Keys{} << false << 50LL << 51LL;
        QTest::newRow("mark raised below the largest stays") << Keys{1, 41} << Keys{41} << false << 10LL << 42LL;
    }
    void nextKey()
    {
        QFETCH(QList<qint64>, existing);
        QFETCH(QList<qint64>, deleted);
        QFETCH(bool, withoutMark);
        QFETCH(qint64, raised);
        QFETCH(qint64, next);
        TXIsamFile f;
        const QString path = newDataset(f);
        for (qint64 k : existing)
            QVERIFY(f.Insert(makeAlarm("0000000001", "0000000100"), key(k)));
        for (qint64 k : deleted)
            QVERIFY(f.Delete(key(k)));
        QString mark;
        if (withoutMark) {
            QVERIFY(f.Close());
            TestDatabase::setKeyMark(server.get(), path, QString());
            QVERIFY(f.Open(path));
            QVERIFY(f.KeyMark(mark) && mark.isEmpty());
        }
        if (raised > 0) {
            QVERIFY(f.RaiseKeyMark(key(raised)));
            QCOMPARE(f.RecordCount(), qint32(existing.size() - deleted.size()));
        }
        QCOMPARE(f.NextKey(), key(next));
        QVERIFY(f.Insert(makeAlarm("0000000001", "0000000200")));
        QCOMPARE(f.CurrentKey(), key(next));
        QVERIFY(f.KeyMark(mark));
        QCOMPARE(mark, key(next));
        // A second object sees the mark the first one raised.
        TXIsamFile other;
        QVERIFY(other.Open(path));
        QCOMPARE(other.NextKey(), key(next + 1));
    }

    // A named setting beside the records: none at first, the first kept of
    // two, a replacement seen by every object and after reopening, apart
    // from the identity and from another dataset's.
    void settings()
    {
        TXIsamFile f;
        TXIsamFile other;
        const QString path = newDataset(f);
        QVERIFY(other.Open(path));
        QString value;
        QVERIFY(!f.ReadSetting(QStringLiteral("identity"), value));
        QCOMPARE(f.LastError(), IsamNotFound);
        value = QStringLiteral("Europe/Berlin");
        QVERIFY(f.WriteSetting(QStringLiteral("identity"), value, true));
        value = QStringLiteral("UTC");
        QVERIFY(other.WriteSetting(QStringLiteral("identity"), value, true));
        QCOMPARE(value, QStringLiteral("Europe/Berlin"));
        value = QStringLiteral("America/New_York");
        QVERIFY(other.WriteSetting(QStringLiteral("identity"), value, false));
        QVERIFY(f.Close() && f.Open(path));
        QVERIFY(f.ReadSetting(QStringLiteral("identity"), value));
        QCOMPARE(value, QStringLiteral("America/New_York"));
        QString identity;
        QVERIFY(!f.ReadIdentity(identity));
        TXIsamFile third;
        newDataset(third);
        QVERIFY(!third.ReadSetting(QStringLiteral("identity"), value));
    }

    // Writes in one transaction - InsertAll's adds, or WriteBatch's adds
    // (under a key or the next one), replaces and removals - all made, with
    // their index values and the key mark moved, or none.
    void writeTogether_data()
    {
        QTest::addColumn<bool>("insertAll");
        QTest::addColumn<QList<qint64>>("existing");
        // a<key> add, a- add under the next key, r<key> replace, d<key> remove,
        // c<key> clear the records whose time (index 2) is that key's number;
        // a key ending in '!' is used as it stands.
        QTest::addColumn<QString>("writes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<qint64>("next");
        const QList<qint64> none, two{2}, oneTwo{1, 2};
        QTest::newRow("all: into an empty dataset") << true << none << "a3 a1 a7" << 0 << keys({1, 3, 7}) << 8LL;
        QTest::newRow("all: a key that exists: none")
            << true << two << "a1 a2" << int(IsamUpdateMode) << keys({2}) << 3LL;
        QTest::newRow("all: a key twice: none") << true << none << "a5 a5" << int(IsamUpdateMode) << keys({}) << 1LL;
        QTest::newRow("all: a bad key: none") << true << none << "a9 a12!" << int(IsamBadKey) << keys({}) << 1LL;
        // Records 1 and 2 exist; the mark stands at 2.
        QTest::newRow("batch: all kinds") << false << oneTwo << "a5 a- r1 d2 d9" << 0 << keys({1, 5, 6}) << 7LL;
        QTest::newRow("batch: a replace of a missing record: none")
            << false << oneTwo << "a- r4" << int(IsamNotFound) << keys({1, 2}) << 3LL;
        QTest::newRow("batch: an add under a key that exists: none")
            << false << oneTwo << "d1 a2" << int(IsamUpdateMode) << keys({1, 2}) << 3LL;
        QTest::newRow("batch: adds under the next keys, in their order")
            << false << oneTwo << "a- a- a- d1 a- a-" << 0 << keys({2, 3, 4, 5, 6, 7}) << 8LL;
        QTest::newRow("batch: adds under the next keys, then a key that exists: none")
            << false << oneTwo << "a- a- a4 a4" << int(IsamUpdateMode) << keys({1, 2}) << 3LL;
        QTest::newRow("batch: a clearing, before adds of its value") << false << oneTwo << "c100 a100 a5 c7"
                                                                     << 0 << keys({5, 100}) << 101LL;
    }
    void writeTogether()
    {
        QFETCH(bool, insertAll);
        QFETCH(QList<qint64>, existing);
        QFETCH(QString, writes);
        QFETCH(int, code);
        QFETCH(qint64, next);
        using Write = TXIsamFile::TBatchWrite;
        TXIsamFile f;
        newDataset(f);
        for (qint64 k : existing)
            QVERIFY(f.Insert(makeAlarm("0000000001", "0000000100"), key(k)));
        QList<Write> batch;
        QStringList added;
        QByteArray records;
        for (const QString& w : writes.split(QLatin1Char(' '))) {
            const auto kind = Write::Kind(QStringLiteral("ardc").indexOf(w[0]));
            const QString id = w.mid(1);
            const QString k = id == QLatin1String("-") ? QString() : id.endsWith('!') ? id.chopped(1) : key(id.toLongLong());
            // The record's time (index 2) is its key, or 300 and its place under the next key.
            const QByteArray at = QByteArray::number(300 + added.size()).rightJustified(10, '0');
            const Alarm a = makeAlarm("0000000003", k.isEmpty() ? at : k.toLatin1());
            const bool removal = kind == Write::Remove || kind == Write::Clear;
            batch << Write{kind, k, removal ? QByteArray() : QByteArray(a.data(), a.size()), qint16(removal ? 2 : 0)};
            added << k;
            records += batch.last().record;
        }
        const bool done = insertAll
            ? f.InsertAll(added, std::span<const char>(records.constData(), std::size_t(records.size())))
            : f.WriteBatch(batch);
        QCOMPARE(done, code == 0);
        QCOMPARE(int(f.LastError()), code);
        QVERIFY(f.Rewind(0));
        QTEST(scan(f, 0, QString(), 16), "stored");
        QCOMPARE(f.NextKey(), key(next));
        Alarm back{};
        for (const Write& w : code == 0 ? batch : QList<Write>()) {
            if (w.kind == Write::Remove || w.kind == Write::Clear)
                continue;
            QVERIFY(f.GetEqual(back, 0, w.key));
            QCOMPARE(QByteArray(back.data(), back.size()), w.record);
            QVERIFY(f.GetEqual(back, 2, QString::fromLatin1(w.record.mid(4, 10))));
            QCOMPARE(f.CurrentKey(), w.key);
        }
    }

    // A copy's adds on a server leave the catalog as they found it: its row
    // of the dataset changed once a batch, not once a record (every command
    // reads the whole catalog, versions left behind included).
    void insertAllKeepsTheCatalogSmall()
    {
        if (!server)
            QSKIP("a server's catalog");
        TXIsamFile f;
        newDataset(f);
        const QByteArray pages = "SELECT pg_relation_size('quorla_datasets') / 8192";
        const int before = server->query("contract", pages).toInt();
        QStringList added;
        QByteArray records;
        for (int n = 1; n <= 2000; ++n) {
            const Alarm a = makeAlarm("0000000003", timeText(n));
            added << key(n);
            records += QByteArray(a.data(), a.size());
        }
        QVERIFY(f.InsertAll(added, std::span<const char>(records.constData(), std::size_t(records.size()))));
        QCOMPARE(f.NextKey(), key(2001));
        QCOMPARE_LE(server->query("contract", pages).toInt(), before + 1);
    }

    // WriteBatch of one dataset with another's along (each holds record 1):
    // both made, or on a failure told by both; on a server, one transaction
    // for both, so none.
    void writeAlong_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("firstStored");
        QTest::addColumn<QStringList>("secondStored");
        // a- add under the next key, r<key> replace, d<key> remove.
        QTest::newRow("both made") << "a- a-" << "d1 a-" << 0 << keys({1, 2, 3}) << keys({2});
        QTest::newRow("the other's failure: none on a server")
            << "a-" << "r9" << int(IsamNotFound) << (server ? keys({1}) : keys({1, 2})) << keys({1});
    }
    void writeAlong()
    {
        QFETCH(int, code);
        using Write = TXIsamFile::TBatchWrite;
        const auto batch = [](const QString& writes) {
            QList<Write> made;
            const Alarm a = makeAlarm("0000000003", "0000000300");
            for (const QString& w : writes.split(QLatin1Char(' '))) {
                const auto kind = Write::Kind(QStringLiteral("ard").indexOf(w[0]));
                const QString k = w.mid(1) == QLatin1String("-") ? QString() : key(w.mid(1).toLongLong());
                made << Write{kind, k, kind == Write::Remove ? QByteArray() : QByteArray(a.data(), a.size())};
            }
            return made;
        };
        const QString firstPath = newDataset(nullptr), secondPath = newDataset(nullptr);
        TXIsamFile f, g;
        if (server)
            shareConnection(firstPath, {&f, &g});
        QVERIFY(f.Open(firstPath) && g.Open(secondPath));
        QVERIFY(f.Insert(makeAlarm("0000000001", "0000000100"), key(1)));
        QVERIFY(g.Insert(makeAlarm("0000000001", "0000000100"), key(1)));
        QFETCH(QString, first);
        QFETCH(QString, second);
        QList<Write> mine = batch(first), theirs = batch(second);
        QCOMPARE(f.WriteBatchAlong(mine, {{&g, &theirs}}), code == 0);
        QCOMPARE(int(f.LastError()), code);
        QCOMPARE(int(g.LastError()), code);
        QVERIFY(f.Rewind(0) && g.Rewind(0));
        QTEST(scan(f, 0, QString(), 16), "firstStored");
        QTEST(scan(g, 0, QString(), 16), "secondStored");
        // The keys taken are set on both sides.
        if (code == 0)
            QCOMPARE(QStringList({mine[0].key, mine[1].key, theirs[1].key}), keys({2, 3, 2}));
    }

    // Every refused call answers its code and leaves object and data as they were.
    void refusals()
    {
        const auto refused = [](TXIsamFile& file, bool done, IsamCode code) {
            QVERIFY(!done);
            QCOMPARE(file.LastError(), code);
        };
        TXIsamFile closed;
        Alarm a{};
        for (bool done : {closed.Get(a, 0, QString(), TXIsamFile::ScanNext), closed.Insert(a, key(1)), closed.Delete(key(1)),
                             closed.Lock(key(1)), closed.Rewind(0), closed.RaiseKeyMark(key(1)), closed.Close()})
            refused(closed, done, IsamNotOpen);
        QCOMPARE(closed.RecordCount(), -1);

        TXIsamFile f;
        const QString path = newDataset(f);
        const qint32 handle = f.Handle();
        refused(f, f.Open(path), IsamAlreadyOpen);
        const QString other = freshName();
        refused(f, f.CreateDataset(other, 10, AlarmFormat), IsamAlreadyOpen);
        TXIsamFile maker;
        refused(maker, maker.Exists(other), IsamNotFound);
        QCOMPARE(f.FileName(), path);
        QCOMPARE(f.Handle(), handle);

        const Alarm first = makeAlarm("0000000001", "0000000100");
        QVERIFY(f.Insert(first, key(5)));
        // Creating it again (another workstation, say) overwrites nothing.
        QVERIFY(maker.Exists(path));
        refused(maker, maker.CreateDataset(path, 10, AlarmFormat), IsamNameInUse);
        refused(f, f.Insert(makeAlarm("0000000002", "0000000200"), key(5)), IsamUpdateMode);
        refused(f, f.Update(first, key(6)), IsamNotFound);
        refused(f, f.Delete(key(6)), IsamNotFound);
        for (const char* bad : {"123", "00000000a1", "00000000001", "-000000001"}) {
            refused(f, f.Insert(first, QString::fromLatin1(bad)), IsamBadKey);
            refused(f, f.Lock(QString::fromLatin1(bad)), IsamBadKey);
            refused(f, f.RaiseKeyMark(QString::fromLatin1(bad)), IsamBadKey);
        }
        std::array<char, 10> small{}; // refused, not read past
        refused(f, f.Insert(small, key(1)), IsamBadParameter);
        Alarm back{};
        QVERIFY(f.GetEqual(back, 0, key(5)));
        QVERIFY(back == first);
        QCOMPARE(f.RecordCount(), 1);
    }

    // Alarms: user 3 at times 100, 200 (twice: a tie on the index value) and
    // 86500; user 4 at 50; user 30 at 10. Keys in insertion order 1..6.
    void scanModes_data()
    {
        using enum TXIsamFile::ScanMode;
        QTest::addColumn<qint16>("index");
        QTest::addColumn<QString>("start"); // GetEqual key; empty: Rewind
        QTest::addColumn<QString>("bound");
        QTest::addColumn<TXIsamFile::ScanMode>("mode");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("ScanNext by primary key") << qint16(0) << "" << "" << ScanNext << keys({1, 2, 3, 4, 5, 6});
        QTest::newRow("ScanNext by primary key after a vanished key")
            << qint16(0) << "0000000003x" << "" << ScanNext << keys({4, 5, 6});
        QTest::newRow("ScanNext by time, ties by key") << qint16(2) << "" << "" << ScanNext << keys({6, 5, 1, 2, 3, 4});
        QTest::newRow("ScanPrefix user 4 from the start fails at once")
            << qint16(5) << "" << "0000000004" << ScanPrefix << keys({});
        QTest::newRow("ScanPrefix user 30 is not user 3")
            << qint16(5) << "0000000030" << "0000000030" << ScanPrefix << keys({6});
        // The alarm poll's road: a 10-digit user key on the 20-digit user+time
        // index never matches, and ScanPrefix then reads that user's alarms in time order.
        QTest::newRow("ScanPrefix user 3 after its look-up, in time order")
            << qint16(5) << "0000000003" << "0000000003" << ScanPrefix << keys({1, 2, 3, 4});
        QTest::newRow("ScanBelow a day excludes the next day's midnight")
            << qint16(2) << "0000000000" << "0000000200" << ScanBelow << keys({6, 5, 1});
        QTest::newRow("ScanAtMost includes the bound")
            << qint16(2) << "0000000000" << "0000000200" << ScanAtMost << keys({6, 5, 1, 2, 3});
        QTest::newRow("ScanBelow starting past the bound")
            << qint16(2) << "0000000300" << "0000000200" << ScanBelow << keys({});
    }
    void scanModes()
    {
        QFETCH(qint16, index);
        QFETCH(QString, start);
        QFETCH(QString, bound);
        QFETCH(TXIsamFile::ScanMode, mode);
        TXIsamFile f;
        newDataset(f);
        const std::pair<const char*, int> alarms[] = {{"0000000003", 100}, {"0000000003", 200}, {"0000000003", 200},
                                                      {"0000000003", 86500}, {"0000000004", 50}, {"0000000030", 10}};
        for (const auto& [user, t] : alarms)
            QVERIFY(f.Insert(makeAlarm(user, timeText(t))));
        Alarm a{};
        if (start.endsWith(QLatin1Char('x'))) {
            // The record under the key is deleted before its look-up.
            start.chop(1);
            QVERIFY(f.Delete(start));
        }
        if (start.isEmpty())
            QVERIFY(f.Rewind(index));
        else
            QVERIFY(!f.GetEqual(a, index, start));
        QTEST(scan(f, index, bound, mode), "keys");
        QCOMPARE(f.LastError(), IsamNotFound);
    }

    // Alarms of entries 5, 2, 5, 9, 2, 7 (keys 1..6): the records whose
    // value is one of those asked for, and none other.
    void among_data()
    {
        QTest::addColumn<qint16>("index");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("scattered entries, several alarms each") << qint16(3) << keys({7, 2}) << keys({2, 5, 6});
        QTest::newRow("entries without alarms among them") << qint16(3) << keys({3, 9, 8}) << keys({4});
        QTest::newRow("nothing asked") << qint16(3) << QStringList() << keys({});
        QTest::newRow("by primary key") << qint16(0) << keys({4, 1, 99}) << keys({1, 4});
    }
    void among()
    {
        QFETCH(qint16, index);
        QFETCH(QStringList, values);
        TXIsamFile f;
        newDataset(f);
        for (const int entry : {5, 2, 5, 9, 2, 7})
            QVERIFY(f.Insert(makeAlarm("0000000001", timeText(100), key(entry).toLatin1())));
        QStringList read;
        Alarm a{};
        QVERIFY(f.Among(a, index, values, [&] {
            read << f.CurrentKey();
            return true;
        }));
        read.sort();
        QTEST(read, "keys");
    }

    // A range of alarm times 1..count (keys alike) and, along it, the alarms
    // for `entries` of two other datasets, told in that order: "g" those of
    // entries 5, 2, 5 (keys 1..3), "h" those of entries 9, 2 (keys 1, 2).
    void rangeAlong_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("along");
        QTest::newRow("past a server's first chunk") << 300 << keys({5, 9}) << QStringList{"g1", "g3", "h1"};
        QTest::newRow("an empty range") << 0 << keys({2}) << QStringList{"g2", "h2"};
        QTest::newRow("one along finds none") << 3 << keys({9}) << QStringList{"h1"};
        QTest::newRow("nothing along") << 3 << keys({7}) << QStringList{};
    }
    void rangeAlong()
    {
        QFETCH(int, count);
        QFETCH(QStringList, entries);
        const QString ranged = newDataset(nullptr), first = newDataset(nullptr), second = newDataset(nullptr);
        TXIsamFile f, g, h;
        if (server)
            shareConnection(ranged, {&f, &g, &h});
        QVERIFY(f.Open(ranged) && g.Open(first) && h.Open(second));
        for (int t = 1; t <= count; ++t)
            QVERIFY(f.Insert(makeAlarm("0000000001", timeText(t))));
        for (const int entry : {5, 2, 5})
            QVERIFY(g.Insert(makeAlarm("0000000001", timeText(100), key(entry).toLatin1())));
        for (const int entry : {9, 2})
            QVERIFY(h.Insert(makeAlarm("0000000001", timeText(100), key(entry).toLatin1())));
        int read = 0;
        QStringList along;
        Alarm a{}, b{}, c{};
        const auto tell = [&along](const char* name, TXIsamFile& file) {
            return [&along, name, &file] { return along << name + QString::number(file.CurrentKey().toInt()), true; };
        };
        QVERIFY(f.RangeAlong(a, 2, key(1), key(count), [&] { return f.CurrentKey() == key(++read); },
                             {{&g, b, 3, entries, tell("g", g)}, {&h, c, 3, entries, tell("h", h)}}));
        QCOMPARE(read, count);
        QTEST(along, "along");
    }

    void positioning()
    {
        TXIsamFile f;
        newDataset(f);
        for (int t : {100, 200, 300})
            QVERIFY(f.Insert(makeAlarm("0000000001", timeText(t))));
        Alarm a{};
        // A point read by another index moves the one position.
        QVERIFY(f.GetEqual(a, 2, key(100)));
        QVERIFY(f.GetEqual(a, 0, key(3)));
        QVERIFY(!f.Get(a, 0, QString(), TXIsamFile::ScanNext));
        // A scan read that fails its condition leaves the position alone.
        QVERIFY(f.Rewind(2));
        QVERIFY(f.Get(a, 2, key(150), TXIsamFile::ScanBelow));
        QVERIFY(!f.Get(a, 2, key(150), TXIsamFile::ScanBelow));
        QVERIFY(f.Get(a, 2, QString(), TXIsamFile::ScanNext));
        QCOMPARE(f.CurrentKey(), key(2));
    }

    void writesDuringScan()
    {
        TXIsamFile f;
        newDataset(f);
        for (int i = 1; i <= 40; ++i)
            QVERIFY(f.Insert(makeAlarm("0000000001", timeText(1000 + i))));
        // Delete every other record while scanning by primary key.
        QStringList seen;
        Alarm a{};
        QVERIFY(f.Rewind(0));
        while (f.Get(a, 0, QString(), TXIsamFile::ScanNext)) {
            seen << f.CurrentKey();
            if (f.CurrentKey().toInt() % 2 == 0)
                QVERIFY(f.Delete(f.CurrentKey()));
        }
        QCOMPARE(seen.size(), 40);
        QCOMPARE(f.RecordCount(), 20);
    }

    // Two objects of one process are two holders, also when they share one
    // server session (as a database object's datasets do).
    void locksBetweenObjects_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("each its own connection") << false;
        QTest::newRow("one shared connection") << true;
    }
    void locksBetweenObjects()
    {
        QFETCH(bool, shared);
        const QString path = newDataset(nullptr);
        TXIsamFile one, two;
        if (shared)
            shareConnection(path, {&one, &two});
        QVERIFY(one.Open(path) && two.Open(path));
        const Alarm stored = makeAlarm("0000000001", "0000000100");
        QVERIFY(one.Insert(stored, key(7)));
        QVERIFY(one.Lock(key(7)));
        QVERIFY(one.Lock(key(7)));
        QVERIFY(!two.Lock(key(7)));
        QCOMPARE(two.LastError(), IsamLocked);
        QVERIFY(two.Unlock(key(7))); // not its lock: releases nothing
        QVERIFY(!two.Lock(key(7)));
        Alarm read{};
        QVERIFY2(two.GetEqual(read, 0, key(7)) && read == stored, "a lock must not block reads");
        QVERIFY(one.Unlock(key(7))); // once, though taken twice
        QVERIFY(two.Lock(key(7)));
        QVERIFY(!one.Lock(key(7)));
        // Many at once: all or none.
        const QStringList three{key(8), key(9), key(10)};
        QVERIFY(two.Lock(key(9)));
        QVERIFY(!one.LockAll(three));
        QCOMPARE(one.LastError(), IsamLocked);
        QVERIFY(two.UnlockAll({key(9)}));
        QVERIFY2(two.LockAll(three), "a refused LockAll must hold none");
        QVERIFY(!one.Lock(key(10)));
        QVERIFY(two.UnlockAll(three));
        QVERIFY(one.LockAll(three));
        QVERIFY(two.Close());
        QVERIFY2(one.Lock(key(7)), "closing must release the object's locks");
    }

    // Two processes insert with empty keys for a while, computing the same next
    // key now and then: the later one takes the key after it, so none fails
    // for that, none overwrites, and every success is there with its own bytes.
    void racingInserts()
    {
        TXIsamFile reader;
        const QString path = newDataset(reader);
        const QString log = TestEnvironment::freshFolder(QStringLiteral("race")) + QStringLiteral("/worker%1.log");
        const auto worker = [&](int id) {
            return [&, id] {
                TXIsamFile f;
                QFile out(log.arg(id));
                if (!f.Open(path) || !out.open(QIODevice::WriteOnly))
                    return 10;
                const auto deadline = ::time(nullptr) + 3;
                for (int seq = 0; ::time(nullptr) < deadline; ++seq) {
                    const QByteArray tag = QByteArray::number(id) + "-" + QByteArray::number(seq);
                    Alarm a = makeAlarm("000000000" + QByteArray::number(id), timeText(seq));
                    putText(a, 15, tag.leftJustified(10, '.', true));
                    out.write(f.Insert(a) ? "ok " + f.CurrentKey().toLatin1() + " " + tag + "\n"
                                          : "failed " + QByteArray::number(f.LastError()) + "\n");
                }
                return 0;
            };
        };
        TestChild one(worker(1)), two(worker(2));
        QCOMPARE(one.wait(), 0);
        QCOMPARE(two.wait(), 0);

        QSet<QByteArray> stored;
        for (int id : {1, 2}) {
            for (const QByteArray& line : TestFile::read(log.arg(id)).split('\n')) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.value(0) == "failed") {
                    QVERIFY2(parts.value(1) == "3", line.constData());
                } else if (parts.value(0) == "ok") {
                    QVERIFY2(!stored.contains(parts[1]), "two successes share a key");
                    stored.insert(parts[1]);
                    Alarm a{};
                    QVERIFY(reader.GetEqual(a, 0, QString::fromLatin1(parts[1])));
                    QCOMPARE(textAt(a, 15), parts[2].leftJustified(10, '.', true));
                }
            }
        }
        QVERIFY(stored.size() > 50);
        QCOMPARE(reader.RecordCount(), stored.size());
    }
};

QUORLA_TEST_CORE_MAIN(tst_XIsamFile)
#include "tst_xisamfile.moc"
