// "quorla --database FOLDER-or-URI": what it records for the workstation, what
// it refuses, and that the database object then opens the recorded folder
// without asking.

#include "QuorlaTest.h"
#include "TDatabaseOption.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>

namespace {

const QString RootPath = QStringLiteral("RootPath");
const QString Previous = QStringLiteral("/previous/database");

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
    void init()
    {
        QFile::remove(TWorkstationStore().Location());
        TWorkstationStore store;
        QVERIFY(store.OpenKey(true) && store.WriteString(RootPath, Previous));
    }

    // A folder is recorded absolute and clean, wherever the program was
    // started from; the database then connects there without a picker (the
    // scripted services fail the test on any message or picker).
    void folderIsOpenedWithoutAsking()
    {
        const QString base = TestEnvironment::freshFolder(QStringLiteral("start"));
        QVERIFY(QDir(base).mkpath(QStringLiteral("office/db")));
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(base);
        QString error;
        const bool recorded = TDatabaseOption::Record(QStringLiteral("office/./db/"), error);
        QDir::setCurrent(previousDir);
        QVERIFY2(recorded, qPrintable(error));
        QCOMPARE(storedRootPath(), base + QStringLiteral("/office/db"));

        TScriptedServices services;
        TQuorlaDB db;
        QCOMPARE(db.RootPath(), base + QStringLiteral("/office/db/"));
        QVERIFY(QFile::exists(base + QStringLiteral("/office/db/QLUsers.Ism")));
    }

    void uriIsStoredAsGiven()
    {
        const QString uri = QStringLiteral("postgresql://calendar.office.lan/quorla?sslmode=require");
        QString error;
        QVERIFY(TDatabaseOption::Record(uri, error));
        QCOMPARE(storedRootPath(), uri);
    }

    // A refused value leaves the recorded database as it was.
    void refused_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << "" << "no database folder or URI given";
        QTest::newRow("missing folder") << "no/such/folder" << "database folder 'no/such/folder' does not exist";
        QTest::newRow("a file") << "file" << "database folder 'file' is not a folder";
        QTest::newRow("no scheme before ://") << "://host/db" << "database folder '://host/db' does not exist";
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
        QString reported;
        const bool recorded = TDatabaseOption::Record(given, reported);
        QDir::setCurrent(previousDir);
        QVERIFY(!recorded);
        QCOMPARE(reported, error);
        QCOMPARE(storedRootPath(), Previous);
    }
};

QUORLA_TEST_GUI_MAIN(TestDatabaseOption)
#include "tst_databaseoption.moc"
