// "quorla --database FOLDER-or-URI": what it records for the workstation, what
// it refuses, and that the database object then opens the recorded folder
// without asking and refuses a recorded location that is no database.

#include "EQuorlaDB.h"
#include "QuorlaTest.h"
#include "TDatabaseLocation.h"
#include "TDatabaseOption.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>

namespace {

const QString RootPath = QStringLiteral("RootPath");

QString storedRootPath()
{
    TWorkstationStore store;
    return store.OpenKey(false) ? store.ReadString(RootPath, QString()) : QString();
}

} // namespace

class TestDatabaseOption : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(TWorkstationStore().Location()); }

    // A folder is recorded without its closing slash; the database then
    // connects there without a picker (the scripted services fail the test on
    // any message or picker). Relative paths: tst_databaselocation.
    void folderIsOpenedWithoutAsking()
    {
        const QString base = TestEnvironment::freshFolder(QStringLiteral("start"));
        QVERIFY(QDir(base).mkpath(QStringLiteral("office/db")));
        const TDatabaseLocation location(base + QStringLiteral("/office/db/"));
        QString error;
        QCOMPARE(TDatabaseOption::Refusal(location), QString());
        QVERIFY2(TDatabaseOption::Record(location, error), qPrintable(error));
        QCOMPARE(storedRootPath(), base + QStringLiteral("/office/db"));

        TScriptedServices services;
        TQuorlaDB db(TScriptedServices::ofTest());
        QCOMPARE(db.RootPath(), base + QStringLiteral("/office/db/"));
        QVERIFY(QFile::exists(base + QStringLiteral("/office/db/QLUsers.Ism")));
    }

    void uriIsStoredAsGiven()
    {
        const QString uri = QStringLiteral("postgresql://calendar.office.lan/quorla?sslmode=require");
        QString error;
        QCOMPARE(TDatabaseOption::Refusal(TDatabaseLocation(uri)), QString());
        QVERIFY(TDatabaseOption::Record(TDatabaseLocation(uri), error));
        QCOMPARE(storedRootPath(), uri);
    }

    // What the command line refuses ("BASE": the folder it runs in); the
    // program then ends with status 2 and the recorded database stays.
    void refused_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing folder") << "no/such/folder" << "database folder 'BASE/no/such/folder' does not exist";
        QTest::newRow("a file") << "file" << "database folder 'BASE/file' is not a folder";
    }

    void refused()
    {
        QFETCH(QString, given);
        QFETCH(QString, error);
        const QString base = TestEnvironment::freshFolder(QStringLiteral("refused"));
        QFile file(base + QStringLiteral("/file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(base);
        const QString reported = TDatabaseOption::Refusal(TDatabaseLocation(given));
        QDir::setCurrent(previousDir);
        QCOMPARE(reported, error.replace(QLatin1String("BASE"), base));
    }

    // A location an older build recorded from the command line is refused
    // by name at start-up, not opened as a strange folder.
    void storedForeignSchemeIsRefused()
    {
        TWorkstationStore store;
        QVERIFY(store.OpenKey(true) && store.WriteString(RootPath, QStringLiteral("mysql://host/db")));
        TScriptedServices services;
        try {
            TQuorlaDB db(TScriptedServices::ofTest());
            QFAIL("connected");
        } catch (const EQuorlaDB& e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to use the Quorla Database location\r\r'mysql://host/db' "
                                                 "is neither a database folder nor a postgresql:// URI"));
        }
    }
};

QUORLA_TEST_GUI_MAIN(TestDatabaseOption)
#include "tst_databaseoption.moc"
