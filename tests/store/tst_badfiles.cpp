// Bad dataset files, generated here for each of the four datasets: opening and
// using them gives a clear result code, never a crash, and never writes to them.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "IsamCode.h"
#include "TIsamFormat.h"
#include "QuorlaTest.h"
#include "TestDatabase.h"
#include "TestFile.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <functional>

#include <unistd.h>

namespace {

struct Dataset { QString file; QString format; int size; };
const Dataset Datasets[] = {
    {UserRecord::FileName, UserRecord::Format, UserRecord::Size},
    {AlarmRecord::FileName, AlarmRecord::Format, AlarmRecord::Size},
    {CategoryRecord::FileName, CategoryRecord::Format, CategoryRecord::Size},
    {DayEntryRecord::FileName, DayEntryRecord::Format, DayEntryRecord::Size},
};
// IsamBadParameter: the caller's records do not fit the layout the file has.
const QList<int> ClearCodes = {IsamBadParameter, IsamNotDataset, IsamSystemCall, IsamCorrupt};

QByteArray checksum(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : "none";
}

// A sound dataset of `d`'s layout with records whose every byte is a digit.
QByteArray soundDataset(const Dataset& d, const QString& path)
{
    TXIsamFile f;
    if (!f.CreateDataset(path, 10, d.format) || !f.Open(path))
        qFatal("cannot make %s", qPrintable(path));
    for (int n = 0; n < 60; ++n)
        f.Insert(QByteArray(d.size, char('0' + n % 10)));
    f.Close();
    return TestFile::read(path);
}

// Opens and uses the file as the program would: open, a full scan of every
// index, a look-up on each, a lock and, whatever failed before, an insert.
// The first failure's code, or IsamOk.
int use(const Dataset& d, const QString& path)
{
    TXIsamFile f;
    if (!f.Open(path))
        return f.LastError();
    int first = IsamOk;
    const auto note = [&first](int code) { first = first == IsamOk ? code : first; };
    TIsamFormat format;
    format.parse(d.format);
    std::vector<int> indexes = format.indexes();
    indexes.insert(indexes.begin(), 0);
    QByteArray r(d.size, '\0');
    for (int ix : indexes) {
        f.Rewind(qint16(ix));
        while (f.Get(r, qint16(ix), QString(), TXIsamFile::ScanNext)) {
        }
        if (f.LastError() != IsamNotFound)
            note(f.LastError());
        if (!f.GetEqual(r, qint16(ix), QStringLiteral("0000000001")) && f.LastError() != IsamNotFound)
            note(f.LastError());
    }
    if (!f.Lock(QStringLiteral("0000000001")))
        note(f.LastError());
    f.Unlock(QStringLiteral("0000000001"));
    if (!f.Insert(QByteArray(d.size, '7')))
        note(f.LastError());
    return first;
}

} // namespace

class tst_BadFiles : public QObject
{
    Q_OBJECT

private slots:
    // Damage that the engine can see must fail with a clear code and leave the
    // file as it was; damage it cannot see (a changed byte inside a record or
    // in unused space) may let the file be used.
    void corpus()
    {
        int tried = 0;
        int refused = 0;
        // A bad file: its name, how it is made, and whether it must be refused.
        struct Bad { QString name; std::function<void()> make; bool refused; };
        for (const Dataset& d : Datasets) {
            const QString folder = TestEnvironment::freshFolder(QStringLiteral("bad"));
            const QString path = folder + QLatin1Char('/') + d.file;
            const QByteArray sound = soundDataset(d, path);
            const auto written = [&path](const QString& name, const QByteArray& bytes) {
                return Bad{name, [&path, bytes] { QVERIFY(TestFile::write(path, bytes)); }, false};
            };
            QList<Bad> corpus = {written("zero length", QByteArray()),
                                 written("text file", "Dear colleagues,\nthe calendar has moved.\n")};
            for (qsizetype at : {1, 100, 4096, 4097})
                if (at < sound.size())
                    corpus << written("truncated at " + QString::number(at), sound.left(at));
            for (qsizetype at = 0; at < sound.size(); at += at < 100 ? 9 : 1013) {
                QByteArray flipped = sound;
                flipped[at] = char(flipped[at] ^ 0xA5);
                corpus << written("byte flipped at " + QString::number(at), flipped);
            }
            // The rest cannot pass for sound.
            const Dataset& other = Datasets[(&d - Datasets + 1) % 4];
            corpus << Bad{"another dataset's layout", [&] { soundDataset(other, path); }, true}
                   << Bad{"another program's database",
                          [&] { TestDatabase::sqlOnFile(path, "CREATE TABLE t(x); INSERT INTO t VALUES(1);"); }, true}
                   << Bad{"record of the wrong size", [&] {
                              soundDataset(d, path);
                              TestDatabase::sqlOnFile(path,
                                                      "UPDATE records SET data = x'00112233' WHERE pk = '0000000007'");
                          }, true}
                   << Bad{"folder in place of the file", [&] { QDir().mkpath(path); }, true};
            for (const Bad& bad : corpus) {
                QFile::remove(path);
                bad.make();
                const QByteArray before = checksum(path);
                const int code = use(d, path);
                ++tried;
                refused += code != IsamOk;
                const QString what = d.file + ", " + bad.name + ": code " + QString::number(code);
                QVERIFY2(ClearCodes.contains(code) || (code == IsamOk && !bad.refused), qPrintable(what));
                if (code != IsamOk)
                    QVERIFY2(checksum(path) == before, qPrintable(what + ", file written"));
            }
        }
        qInfo("bad files tried: %d, refused: %d", tried, refused);
    }

    void permissions_data()
    {
        QTest::addColumn<bool>("folderToo");
        QTest::newRow("read-only file") << false;
        QTest::newRow("read-only folder") << true;
    }
    void permissions()
    {
        QFETCH(bool, folderToo);
        if (::geteuid() == 0)
            QSKIP("running as root, which may write to read-only files and folders");
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("readonly"));
        const QString path = folder + QLatin1Char('/') + Datasets[2].file;
        soundDataset(Datasets[2], path);
        QFile::setPermissions(path, QFile::ReadOwner);
        if (folderToo)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray before = checksum(path);
        const int code = use(Datasets[2], path);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(ClearCodes.contains(code), qPrintable(QString::number(code)));
        QCOMPARE(checksum(path), before);
    }

};

QUORLA_TEST_CORE_MAIN(tst_BadFiles)
#include "tst_badfiles.moc"
