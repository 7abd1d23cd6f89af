// The workstation's value store: opening with and without creating, values of
// the wrong type in a hand-edited or damaged file, texts that the file format
// could mangle, deleting, and writes that cannot reach the disk.

#include "QuorlaTest.h"
#include "TestFile.h"
#include "TWorkstationStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString storeFile()
{
    return TWorkstationStore().Location();
}

void removeStore()
{
    QDir(storeFile()).removeRecursively(); // a test may leave a folder in the file's place
    QFile::remove(storeFile());
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
    QVERIFY(TestFile::write(path, contents));
    QFile touched(path);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)).addSecs(++serial),
                                QFileDevice::FileModificationTime));
}

} // namespace

class tst_WorkstationStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { removeStore(); }

    void openWithoutCreating()
    {
        TWorkstationStore store;
        QVERIFY(!store.OpenKey(false));
        QVERIFY(!QFileInfo::exists(storeFile()));
        QVERIFY(store.OpenKey(true));
        store.CloseKey();
        // The key made empty is a key: it opens without creating from now on.
        QVERIFY(store.OpenKey(false));
        QVERIFY(!store.ValueExists(QStringLiteral("RootPath")));
        store.CloseKey();

        // A file where the store's folder should be: nobody, root included,
        // can create the folder, so opening with creation fails.
        const QString folder = QFileInfo(storeFile()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!store.OpenKey(true));
        QFile::remove(folder);
    }

    // The file may hold a password (a server's URI): only its owner may read
    // it, whether it is new or an older build left it open to all.
    void privateFile_data()
    {
        QTest::addColumn<bool>("older");
        QTest::newRow("new file") << false;
        QTest::newRow("older file, mode 0644") << true;
    }
    void privateFile()
    {
        QFETCH(bool, older);
        if (older) {
            writeRawStore("[General]\nRootPath=/srv/quorla\n");
            QVERIFY(QFile::setPermissions(storeFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                           | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        }
        TWorkstationStore store;
        QVERIFY(store.OpenKey(true));
        QVERIFY(store.WriteString(QStringLiteral("RootPath"), QStringLiteral("postgresql://anna:secret@db/quorla")));
        QFileInfo file(storeFile());
        QCOMPARE(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    // A value that is not of the type asked for gives the caller's default.
    void readStoredValue_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<char>("type");
        QTest::addColumn<QString>("read"); // "default": the caller's default
        QTest::newRow("integer as a word") << QByteArray("V=abc") << 'i' << "default";
        QTest::newRow("integer beyond 32 bits") << QByteArray("V=2147483648") << 'i' << "default";
        QTest::newRow("boolean as a word") << QByteArray("V=false") << 'b' << "default";
        QTest::newRow("text read as a list") << QByteArray("V=a, b") << 't' << "default";
    }
    void readStoredValue()
    {
        QFETCH(QByteArray, line);
        QFETCH(char, type);
        writeRawStore("[General]\n" + line + "\n");
        TWorkstationStore store;
        QVERIFY(store.OpenKey(false));
        // Read with two defaults, so that a fallback cannot pass for a value.
        const auto value = [&](bool first) {
            const QString name = QStringLiteral("V");
            if (type == 'i')
                return QString::number(store.ReadInteger(name, first ? -77 : -78));
            if (type == 'b')
                return QString::number(store.ReadBool(name, first));
            return store.ReadString(name, first ? QStringLiteral("d1") : QStringLiteral("d2"));
        };
        const QString a = value(true), b = value(false);
        const bool fellBack = QStringList{"-77-78", "10", "d1d2"}.contains(a + b);
        QTEST(fellBack ? QStringLiteral("default") : a == b ? a : a + QLatin1Char('|') + b, "read");
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");

        // Group slots are stored as a name and keys separated by commas; an empty
        // group is a lone comma. The file format treats commas, a leading '@',
        // quotes and line breaks specially.
        QTest::newRow("empty group") << QStringLiteral(",");
        QTest::newRow("leading at sign") << QStringLiteral("@Variant(x)");
        QTest::newRow("non-latin") << QStringLiteral("Zoë Ærø 日本");
    }

    void roundTrip()
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

    void deleteAndFailedWrite()
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
        // A folder in the file's place cannot be replaced by the file, whoever runs the test.
        QVERIFY(QFile::remove(storeFile()));
        QVERIFY(QDir().mkpath(storeFile()));
        QVERIFY(!again.WriteString(QStringLiteral("RootPath"), QStringLiteral("/srv/quorla")));
    }
};

QUORLA_TEST_CORE_MAIN(tst_WorkstationStore)
#include "tst_workstationstore.moc"
