// "quorla --database FOLDER-or-URI": what it records for the workstation and
// what it refuses; and that the database object refuses a recorded location
// that is no database.

#include "EQuorlaDB.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "TDatabaseLocation.h"
#include "TDatabaseOption.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"

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

    // What is recorded (a folder without its closing slash, a URI as given),
    // and what is refused ("BASE": the folder it runs in). Relative paths:
    // tst_databaselocation; the database opening a folder recorded without
    // its slash, with no picker: tst_quorladb.
    void record_data()
    {
        const QString uri = QStringLiteral("postgresql://calendar.office.lan/quorla?sslmode=require");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("error");
        QTest::newRow("folder") << "BASE/office/db/" << "BASE/office/db" << "";
        QTest::newRow("uri") << uri << uri << "";
        QTest::newRow("missing folder") << "no/such/folder" << "" << "database folder 'BASE/no/such/folder' does not exist";
        QTest::newRow("a file") << "file" << "" << "database folder 'BASE/file' is not a folder";
    }
    void record()
    {
        QFETCH(QString, given);
        QFETCH(QString, stored);
        QFETCH(QString, error);
        const QString base = TestEnvironment::freshFolder(QStringLiteral("record"));
        QVERIFY(QDir(base).mkpath(QStringLiteral("office/db")) && TestFile::write(base + QStringLiteral("/file"), {}));
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(base);
        const TDatabaseLocation location(given.replace(QLatin1String("BASE"), base));
        const QString reported = TDatabaseOption::Refusal(location);
        QString failed;
        const bool recorded = reported.isEmpty() && TDatabaseOption::Record(location, failed);
        QDir::setCurrent(previousDir);
        QCOMPARE(reported, error.replace(QLatin1String("BASE"), base));
        QVERIFY2(recorded == error.isEmpty(), qPrintable(failed));
        QCOMPARE(storedRootPath(), stored.replace(QLatin1String("BASE"), base));
    }

    // A location an older build recorded from the command line is refused
    // by name at start-up, not opened as a strange folder.
    void storedForeignSchemeIsRefused()
    {
        TWorkstationStore store;
        QVERIFY(store.OpenKey(true) && store.WriteString(RootPath, QStringLiteral("mysql://host/db")));
        TScriptedServices services;
        QCOMPARE(thrown<EQuorlaDB>([] { TQuorlaDB db(TScriptedServices::ofTest()); }), QStringLiteral("Unable to use the Quorla Database location\r\r"
                                                                        "'mysql://host/db' is neither a database folder nor a postgresql:// URI"));
    }
};

QUORLA_TEST_GUI_MAIN(TestDatabaseOption)
#include "tst_databaseoption.moc"
