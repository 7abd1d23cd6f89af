// The workstation's value store: opening with and without creating, values of
// the wrong type in a hand-edited or damaged file, texts that the file format
// could mangle, deleting, and writes that cannot reach the disk.

#include "QuorlaTest.h"
#include "TWorkstationStore.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

namespace {

QString storeFile()
{
    return TWorkstationStore().Location();
}

void removeStore()
{
    const QString path = storeFile();
    QFileInfo info(path);
    if (info.isDir())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
    // A test may have turned the folder into a file.
    if (QFileInfo(info.absolutePath()).isFile())
        QFile::remove(info.absolutePath());
}

// Writes the store's file as a person or another program would. Qt keeps a
// parsed copy of the file and reuses it while the file's size and time are
// unchanged; each call gives the file a time of its own so that the copy is
// never taken for the new contents.
void writeRawStore(const QByteArray& contents)
{
    static int serial = 0;
    const QString path = storeFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
    file.close();
    QFile touched(path);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)).addSecs(++serial),
                                QFileDevice::FileModificationTime));
}

enum class Kind { Integer, Boolean, Text };

} // namespace

Q_DECLARE_METATYPE(Kind)

class tst_WorkstationStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void openWithoutCreating();
    void creatingFailsWhenTheFolderCannotBeMade();
    void readStoredValue_data();
    void readStoredValue();
    void wrongTypeLeavesTheOthersReadable();
    void roundTrip_data();
    void roundTrip();
    void deleteValue();
    void failedWriteIsReported();
};

void tst_WorkstationStore::init()
{
    removeStore();
}

void tst_WorkstationStore::openWithoutCreating()
{
    TWorkstationStore store;
    QVERIFY(!store.OpenKey(false));
    QVERIFY(!store.IsOpen());
    QVERIFY(!QFileInfo::exists(storeFile()));

    QVERIFY(store.OpenKey(true));
    QVERIFY(QFileInfo::exists(storeFile()));
    store.CloseKey();

    // The key made empty is a key: it opens without creating from now on.
    TWorkstationStore other;
    QVERIFY(other.OpenKey(false));
    QVERIFY(!other.ValueExists(QStringLiteral("RootPath")));
}

void tst_WorkstationStore::creatingFailsWhenTheFolderCannotBeMade()
{
    // A file where the store's folder should be: no user, root included, can
    // create the folder, so opening with creation must fail.
    const QString folder = QFileInfo(storeFile()).absolutePath();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    TWorkstationStore store;
    QVERIFY(!store.OpenKey(true));
    QVERIFY(!store.IsOpen());
    QFile::remove(folder);
}

void tst_WorkstationStore::readStoredValue_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QVariant>("expected");

    const QVariant fallback = QStringLiteral("default");
    QTest::newRow("integer") << QByteArray("V=255") << Kind::Integer << QVariant(255);
    QTest::newRow("negative integer") << QByteArray("V=-5") << Kind::Integer << QVariant(-5);
    QTest::newRow("largest integer") << QByteArray("V=2147483647") << Kind::Integer << QVariant(2147483647);
    QTest::newRow("integer as a word") << QByteArray("V=abc") << Kind::Integer << fallback;
    QTest::newRow("integer with trailing text") << QByteArray("V=12abc") << Kind::Integer << fallback;
    QTest::newRow("integer in hexadecimal") << QByteArray("V=0x80") << Kind::Integer << fallback;
    QTest::newRow("integer with a sign only") << QByteArray("V=-") << Kind::Integer << fallback;
    QTest::newRow("integer beyond 32 bits") << QByteArray("V=2147483648") << Kind::Integer << fallback;
    QTest::newRow("integer of many digits") << QByteArray("V=99999999999999999999") << Kind::Integer << fallback;
    QTest::newRow("integer empty") << QByteArray("V=") << Kind::Integer << fallback;
    QTest::newRow("integer missing") << QByteArray("Other=1") << Kind::Integer << fallback;
    QTest::newRow("boolean 1") << QByteArray("V=1") << Kind::Boolean << QVariant(true);
    QTest::newRow("boolean 0") << QByteArray("V=0") << Kind::Boolean << QVariant(false);
    QTest::newRow("boolean any non-zero") << QByteArray("V=7") << Kind::Boolean << QVariant(true);
    QTest::newRow("boolean as a word") << QByteArray("V=false") << Kind::Boolean << fallback;
    QTest::newRow("boolean missing") << QByteArray("Other=1") << Kind::Boolean << fallback;
    QTest::newRow("text") << QByteArray("V=/srv/quorla") << Kind::Text << QVariant(QStringLiteral("/srv/quorla"));
    QTest::newRow("text empty") << QByteArray("V=") << Kind::Text << QVariant(QString());
    QTest::newRow("text read as a list") << QByteArray("V=a, b") << Kind::Text << fallback;
    QTest::newRow("text missing") << QByteArray("Other=x") << Kind::Text << fallback;
}

// A value that is not what the caller asks for gives the caller's default: the
// default stands for "fall back" here, as -77 / the other Boolean / "default".
void tst_WorkstationStore::readStoredValue()
{
    QFETCH(QByteArray, line);
    QFETCH(Kind, kind);
    QFETCH(QVariant, expected);

    writeRawStore("[General]\n" + line + "\n");
    if (QTest::currentTestFailed())
        return;
    TWorkstationStore store;
    QVERIFY(store.OpenKey(false));
    const QString name = QStringLiteral("V");
    const bool fellBack = expected == QVariant(QStringLiteral("default"));
    switch (kind) {
    case Kind::Integer:
        QCOMPARE(store.ReadInteger(name, -77), fellBack ? -77 : expected.toInt());
        break;
    case Kind::Boolean:
        // Read with both defaults, so that a fallback cannot pass for a value.
        if (fellBack) {
            QCOMPARE(store.ReadBool(name, true), true);
            QCOMPARE(store.ReadBool(name, false), false);
        } else {
            QCOMPARE(store.ReadBool(name, !expected.toBool()), expected.toBool());
        }
        break;
    case Kind::Text:
        QCOMPARE(store.ReadString(name, QStringLiteral("default")),
                 fellBack ? QStringLiteral("default") : expected.toString());
        break;
    }
}

void tst_WorkstationStore::wrongTypeLeavesTheOthersReadable()
{
    writeRawStore("[General]\n"
                  "TimeColor=abc\n"
                  "PrivateColor=32768\n"
                  "ExpandLines=0\n"
                  "RootPath=/srv/quorla\n");
    TWorkstationStore store;
    QVERIFY(store.OpenKey(false));
    QCOMPARE(store.ReadInteger(QStringLiteral("TimeColor"), 255), 255);
    QCOMPARE(store.ReadInteger(QStringLiteral("PrivateColor"), 0x800000), 32768);
    QCOMPARE(store.ReadBool(QStringLiteral("ExpandLines"), true), false);
    QCOMPARE(store.ReadString(QStringLiteral("RootPath"), QString()), QStringLiteral("/srv/quorla"));
}

void tst_WorkstationStore::roundTrip_data()
{
    QTest::addColumn<QString>("text");

    // Group slots are stored as a name and keys separated by commas; an empty
    // group is a lone comma. The file format treats commas, a leading '@',
    // quotes and line breaks specially.
    QTest::newRow("empty group") << QStringLiteral(",");
    QTest::newRow("group") << QStringLiteral("Sales,0000000001,0000000002");
    QTest::newRow("empty") << QString();
    QTest::newRow("leading at sign") << QStringLiteral("@Variant(x)");
    QTest::newRow("quotes and semicolon") << QStringLiteral("a \"b\"; c");
    QTest::newRow("line break") << QStringLiteral("one\rtwo");
    QTest::newRow("windows path") << QStringLiteral("\\\\server\\share\\quorla\\");
    QTest::newRow("non-latin") << QStringLiteral("Zoë Ærø 日本");
}

void tst_WorkstationStore::roundTrip()
{
    QFETCH(QString, text);
    {
        TWorkstationStore store;
        QVERIFY(store.OpenKey(true));
        QVERIFY(store.WriteString(QStringLiteral("Group0"), text));
        QVERIFY(store.WriteInteger(QStringLiteral("TimeColor"), -2147483647 - 1));
        QVERIFY(store.WriteBool(QStringLiteral("ExpandLines"), true));
        QVERIFY(store.WriteBool(QStringLiteral("PrivateItalic"), false));
    }
    TWorkstationStore store;
    QVERIFY(store.OpenKey(false));
    QCOMPARE(store.ReadString(QStringLiteral("Group0"), QStringLiteral("default")), text);
    QCOMPARE(store.ReadInteger(QStringLiteral("TimeColor"), 0), -2147483647 - 1);
    QCOMPARE(store.ReadBool(QStringLiteral("ExpandLines"), false), true);
    QCOMPARE(store.ReadBool(QStringLiteral("PrivateItalic"), true), false);
    // Booleans are kept as the integers 0 and 1.
    QCOMPARE(store.ReadInteger(QStringLiteral("ExpandLines"), -1), 1);
    QCOMPARE(store.ReadInteger(QStringLiteral("PrivateItalic"), -1), 0);
}

void tst_WorkstationStore::deleteValue()
{
    TWorkstationStore store;
    QVERIFY(store.OpenKey(true));
    QVERIFY(store.WriteString(QStringLiteral("RootPath"), QStringLiteral("/srv/quorla")));
    QVERIFY(store.WriteInteger(QStringLiteral("TimeColor"), 1));

    QVERIFY(store.DeleteValue(QStringLiteral("RootPath")));
    QVERIFY(!store.DeleteValue(QStringLiteral("RootPath")));
    store.CloseKey();

    TWorkstationStore again;
    QVERIFY(again.OpenKey(false));
    QVERIFY(!again.ValueExists(QStringLiteral("RootPath")));
    QCOMPARE(again.ReadInteger(QStringLiteral("TimeColor"), 0), 1);
}

void tst_WorkstationStore::failedWriteIsReported()
{
    TWorkstationStore store;
    QVERIFY(store.OpenKey(true));
    // A folder in the file's place cannot be replaced by the file, whoever runs
    // the test.
    QVERIFY(QFile::remove(storeFile()));
    QVERIFY(QDir().mkpath(storeFile()));
    QVERIFY(!store.WriteString(QStringLiteral("RootPath"), QStringLiteral("/srv/quorla")));
}

QUORLA_TEST_CORE_MAIN(tst_WorkstationStore)
#include "tst_workstationstore.moc"
