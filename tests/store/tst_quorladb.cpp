// Connecting a workstation to the database: the first start that asks for the
// folder, stored folders, folders holding some datasets, the ways connecting
// fails and what it leaves behind, two connections, reopening.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorlaDB.h"
#include "FolderPause.h"
#include "IsamCode.h"
#include "TIsamEngine.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "RecordLockFile.h"
#include "SqliteIsamEngine.h"
#include "TCommandScope.h"
#include "TDatabaseLocation.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <memory>

using Kind = TPersonServices::MessageKind;
using Answer = TPersonServices::MessageAnswer;
using TestDatabase::addUsers;
using TestDatabase::category;
using TestDatabase::user;

namespace {

const QString Warning = QStringLiteral(
    "The Quorla Database path could not be found\r\rYou will now be asked for the location of the Quorla "
    "Database,\rIf you would like to create a NEW Database, simply select the folder\ryou would like the Database "
    "created in.\r\rIf you wish to connect to an existing Database, Please choose the Folder that contains the "
    "Quorla Database.");
const QString NoKey = QStringLiteral("(no key)");
const QStringList AllFiles = {"QLUsers.Ism",  "QLAlarms.Ism",  "QLCat.Ism",    "QLDayEnt.Ism",
                              "QLTrail.Ism",  "QLHolders.Ism", "QLSeries.Ism", "QLSerLnk.Ism",
                              "QLImport.Ism", "QLDetail.Ism",  "QLBin.Ism",  "QLRes.Ism",    "QLBook.Ism"};

// A workstation store holding only `rootPath`: nothing for NoKey, an empty key for "".
void prepareStore(const QString& rootPath)
{
    QFile::remove(TWorkstationStore().Location());
    TWorkstationStore store;
    if (rootPath != NoKey)
        QVERIFY(store.OpenKey(true) && (rootPath.isEmpty() || store.WriteString(QStringLiteral("RootPath"), rootPath)));
}

QString storedRootPath()
{
    TWorkstationStore store;
    if (!store.OpenKey(false) || !store.ValueExists(QStringLiteral("RootPath")))
        return NoKey;
    return store.ReadString(QStringLiteral("RootPath"), QString());
}

// The files in a folder, dataset files in AllFiles order first; the datasets'
// record lock files (".lck", made by the lock check at connection) left out.
QStringList filesIn(const QString& folder)
{
    QStringList present;
    for (const QString& name : AllFiles)
        if (QFileInfo::exists(folder + QLatin1Char('/') + name))
            present << name;
    const QStringList all = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : all)
        if (!present.contains(name) && !name.endsWith(QLatin1String(".lck")))
            present << name;
    return present;
}

QString connectFailure() { return thrown<EQuorlaDB>([] { TQuorlaDB db(TScriptedServices::ofTest()); }); }

// A dataset of the users' layout at `path` holding the named users.
void makeUsers(const QString& path, const QStringList& names)
{
    TXIsamFile users;
    QVERIFY(users.CreateDataset(path, 10, UserRecord::Format) && users.Open(path) && addUsers(users, names));
}

// The folder engine looking a moment too early: every dataset is missing when
// looked for, as when another workstation creates it just after the look.
class LateLookEngine : public TIsamEngine
{
public:
    IsamCode create(const QString& name, int keyLength, const QString& format,
                    const std::shared_ptr<TIsamConnection>& connection) override
    {
        return real_.create(name, keyLength, format, connection);
    }
    IsamCode exists(const QString&, const std::shared_ptr<TIsamConnection>&) override { return IsamNotFound; }
    IsamCode open(const QString& name, IsamOpenMode mode, const std::shared_ptr<TIsamConnection>& connection,
                  std::unique_ptr<TIsamDataset>& dataset) override
    {
        return real_.open(name, mode, connection, dataset);
    }

private:
    SqliteIsamEngine real_;
};

// With QUORLA_TEST_ENGINE=postgres the key marks are tried on a server too.
std::unique_ptr<PostgresCluster> server;

} // namespace

class tst_QuorlaDB : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }

    // A database written before the marks of the largest key ever held, or
    // with marks made at the largest key stored at that time: users 1-3 (3
    // removed, still an entry's assignee), categories 1-2 (2 removed, still
    // that entry's category), entries 1-5 (3-5 removed, 5 still named by an
    // alarm). No new record takes a key that an old one points at, and a
    // key freed at the top stays freed.
    void keyMarksOfAnOldDatabase_data()
    {
        QTest::addColumn<QStringList>("marks");
        QTest::addColumn<QList<qint64>>("next"); // users, categories, entries; 0: not looked at
        QTest::newRow("no marks") << QStringList{"", "", ""} << QList<qint64>{4, 3, 6};
        QTest::newRow("marks at the largest key stored")
            << QStringList{"0000000002", "0000000001", "0000000002"} << QList<qint64>{0, 0, 6};
    }
    void keyMarksOfAnOldDatabase()
    {
        QFETCH(QStringList, marks);
        QFETCH(QList<qint64>, next);
        TScriptedServices services;
        const QString name = QStringLiteral("old%1").arg(marks[0].isEmpty() ? 1 : 2);
        const QString root = server ? server->createDatabase(name) : TestEnvironment::freshFolder(name) + '/';
        const auto k = [](qint64 n) { return RecordKey::format(n); };
        {
            TQuorlaDB db{TScriptedServices::ofTest(), TDatabaseLocation(root)};
            QVERIFY(addUsers(db.Users(), {"ANN", "BOB", "CID"}));
            for (const char* d : {"Meeting", "Travel"})
                QVERIFY(db.Categories().Insert(category(QLatin1String(d)).bytes()));
            for (int n = 1; n <= 5; ++n) {
                DayEntryRecord entry = TestDatabase::entry(QString(), {n == 2 ? 3 : 1}, 1);
                entry.setCategoryKey(k(n == 2 ? 2 : 1));
                QVERIFY(db.DayEntries().Insert(entry.bytes()));
            }
            AlarmRecord alarm;
            alarm.setUserKey(k(1));
            alarm.setDayEntryKey(k(5));
            alarm.setAlarmTime(k(1000));
            alarm.rebuildUserAlarmKey();
            QVERIFY(db.Alarms().Insert(alarm.bytes()));
            QVERIFY(db.Users().Delete(k(3)) && db.Categories().Delete(k(2)));
            for (int n = 3; n <= 5; ++n)
                QVERIFY(db.DayEntries().Delete(k(n)));
        }
        // Marks as a database written before them (empty) or at the largest key then stored.
        const QStringList files{UserRecord::FileName, CategoryRecord::FileName, DayEntryRecord::FileName};
        for (int i = 0; i < files.size(); ++i)
            TestDatabase::setKeyMark(server.get(), TDatabaseLocation(root).DatasetName(files[i]), marks[i]);

        {
            TQuorlaDB db{TScriptedServices::ofTest(), TDatabaseLocation(root)};
            TXIsamFile* datasets[] = {&db.Users(), &db.Categories(), &db.DayEntries()};
            for (int i = 0; i < 3; ++i)
                if (next[i] > 0)
                    QCOMPARE(datasets[i]->NextKey(), k(next[i]));
            // A new event takes the next key, and leaves it freed when deleted.
            AlarmRecord none;
            DayEntryRecord entry = TestDatabase::entry(QString());
            const QString added = TEventWriter(db).insertEntryWithAlarms(entry, none);
            QCOMPARE(added, k(next[2]));
            QCOMPARE(TEventWriter(db).deleteEntryWithAlarms(added), TEventWriter::Result::Done);
        }
        TQuorlaDB again{TScriptedServices::ofTest(), TDatabaseLocation(root)};
        QCOMPARE(again.DayEntries().NextKey(), k(next[2] + 1));
    }

    // The folder comes from the store, or at the first start from the picker
    // after a warning, and is stored; the missing datasets are created there
    // and those present keep their records. A refused connection names its
    // cause, creates nothing after the failure, keeps a folder the user chose,
    // and the next start meets the same cause without asking again.
    void connects_data()
    {
        QTest::addColumn<QString>("rootPath"); // stored; "folder": the test's folder, "": first start
        QTest::addColumn<QString>("picked");   // the picker's answer, if it is asked
        QTest::addColumn<QString>("present");  // "users": users (2) and categories (1); else a text file
        QTest::addColumn<QString>("message");  // empty: connected
        QTest::addColumn<QStringList>("filesAfter");
        QTest::addColumn<QString>("storedAfter");
        const QString folder = QStringLiteral("folder"), connected;
        QTest::newRow("first start") << "" << folder << "" << connected << AllFiles << folder;
        QTest::newRow("stored without separator, datasets present")
            << folder << "" << "users" << connected << AllFiles << folder;
        QTest::newRow("no key") << NoKey << "" << "" << "Unable to locate Quorla root path in registry"
                                << QStringList{} << NoKey;
        QTest::newRow("picker cancelled") << "" << "" << "" << "Unable to locate Quorla Database!" << QStringList{}
                                          << NoKey;
        QTest::newRow("chosen folder holds a text file")
            << "" << folder << "QLUsers.Ism" << "Unable to open user isam\r\rFile is not isam format"
            << QStringList{"QLUsers.Ism"} << folder;
        QTest::newRow("folder no longer there") << "gone" << "" << ""
                                                << "Unable to create user isam\r\rDOS function call failure"
                                                << QStringList{} << "gone";
    }
    void connects()
    {
        QFETCH(QString, rootPath);
        QFETCH(QString, picked);
        QFETCH(QString, present);
        QFETCH(QString, storedAfter);
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("connect"));
        const auto real = [&](const QString& name) { return name.isEmpty() || name == NoKey ? name : folder; };
        if (present == QLatin1String("users")) {
            makeUsers(folder + QStringLiteral("/QLUsers.Ism"), {"ANNA", "BERT"});
            TXIsamFile categories;
            QVERIFY(categories.CreateDataset(folder + QStringLiteral("/QLCat.Ism"), 10, CategoryRecord::Format));
            QVERIFY(categories.Open(folder + QStringLiteral("/QLCat.Ism")));
            QVERIFY(categories.Insert(category(QStringLiteral("Meeting")).bytes()));
        } else if (!present.isEmpty()) {
            QVERIFY(TestFile::write(folder + QLatin1Char('/') + present, "This is a text file, not a dataset.\n"));
        }
        if (rootPath == "gone")
            QVERIFY(QDir(folder).removeRecursively());
        prepareStore(real(rootPath));
        TScriptedServices services;
        if (rootPath.isEmpty()) {
            services.expectMessage(Kind::Warning, Warning, Answer::Ok);
            services.expectFolder(real(picked));
        }

        const QString got = connectFailure();
        QTEST(got, "message");
        QTEST(filesIn(folder), "filesAfter");
        QCOMPARE(storedRootPath(), real(storedAfter));
        QCOMPARE(QFileInfo::exists(TWorkstationStore().Location()), rootPath != NoKey);
        if (!got.isEmpty()) {
            if (storedAfter != NoKey)
                QCOMPARE(connectFailure(), got);
            return;
        }
        TQuorlaDB db(TScriptedServices::ofTest());
        QCOMPARE(db.RootPath(), folder + QLatin1Char('/'));
        const int counts[] = {present.isEmpty() ? 0 : 2, 0, present.isEmpty() ? 0 : 1, 0};
        int i = 0;
        for (TXIsamFile* f : {&db.Users(), &db.Alarms(), &db.Categories(), &db.DayEntries()}) {
            QVERIFY2(f->Active(), qPrintable(f->FileName()));
            QCOMPARE(f->RecordCount(), counts[i++]);
        }
        // The datasets are of the record layouts: a whole record goes in and out.
        UserRecord written = user(QStringLiteral("ADMIN")), read;
        QVERIFY(db.Users().Insert(written.bytes()));
        QVERIFY(db.Users().GetEqual(read.bytes(), 3, QStringLiteral("ADMIN")));
        QCOMPARE(read, written);
    }

    // Two workstations starting at once on a new database both find the
    // datasets missing; the one whose creation comes second opens them.
    void datasetsCreatedMeanwhile()
    {
        prepareStore(TestEnvironment::freshFolder(QStringLiteral("meanwhile")));
        TScriptedServices services;
        {
            TQuorlaDB first(TScriptedServices::ofTest());
            QVERIFY(first.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        }
        LateLookEngine late;
        TIsamEngine::setInstance(&late);
        const auto restore = qScopeGuard([] { TIsamEngine::setInstance(nullptr); });
        TQuorlaDB second(TScriptedServices::ofTest());
        QCOMPARE(second.Users().RecordCount(), 1);
    }

    void reopenSeesTheFilesAsTheyAreNow()
    {
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("reopen"));
        prepareStore(folder);
        TScriptedServices services;
        TQuorlaDB db(TScriptedServices::ofTest());
        QVERIFY(db.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        // Another workstation replaces the users file (a restored copy, say).
        makeUsers(folder + QStringLiteral("/copy.Ism"), {"BERT", "CARL"});
        QVERIFY(::rename(QFile::encodeName(folder + QStringLiteral("/copy.Ism")).constData(),
                         QFile::encodeName(folder + QStringLiteral("/QLUsers.Ism")).constData()) == 0);
        db.ReopenUsersAndCategories();
        QCOMPARE(db.Users().RecordCount(), 2);
        QVERIFY(db.Categories().Active());

        QVERIFY(QFile::remove(folder + QStringLiteral("/QLCat.Ism")));
        const QString refused = thrown<EQuorlaDB>([&] { db.ReopenUsersAndCategories(); });
        QCOMPARE(refused, QStringLiteral("Unable to open category isam\r\r") + db.Categories().ErrorText());
        QVERIFY(db.Users().Active()); // reopened before the categories failed
    }

    // A backup's pause of the folder waits for the write command in hand,
    // and is had once the command ended.
    void pauseWaitsForTheCommand()
    {
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("pause"));
        prepareStore(folder);
        TScriptedServices services;
        TQuorlaDB db(TScriptedServices::ofTest());
        FolderPause pause(folder);
        {
            const TCommandScope command(db);
            QVERIFY(!pause.Pause(0));
        }
        QVERIFY(pause.Pause(0));
        pause.Resume();
    }

    // A folder whose file system ignores record locks is reported once, however
    // often the workstation connects, and the connection stands.
    void locksIgnored()
    {
        prepareStore(TestEnvironment::freshFolder(QStringLiteral("locks")));
        RecordLockFile::setProbeOverride(RecordLockFile::ProbeFails);
        const auto reset = qScopeGuard([] { RecordLockFile::setProbeOverride(RecordLockFile::ProbeReal); });
        TScriptedServices services;
        services.expectMessage(Kind::Warning, QStringLiteral("Record locks do not work in the Quorla Database "
                                                             "folder.\r\rChanges made by two workstations at the "
                                                             "same moment are not protected there."),
                               Answer::Ok);
        TQuorlaDB first(TScriptedServices::ofTest()), second(TScriptedServices::ofTest());
        QVERIFY(first.Users().Active() && second.DayEntries().Active());
    }
};

QUORLA_TEST_CORE_MAIN(tst_QuorlaDB)
#include "tst_quorladb.moc"
