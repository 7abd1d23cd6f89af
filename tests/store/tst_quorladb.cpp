// Connecting a workstation to the database: the first start that asks for the
// folder, stored folders with and without a separator, folders that hold some
// datasets, the ways connecting fails and what it leaves behind, independent
// positions of two connections, reopening, and new-record defaults.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"
#include "UserRecord.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTime>

#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;
using Answer = TServices::MessageAnswer;

namespace {

const QString Warning = QStringLiteral(
    "The Quorla Database path could not be found\r\rYou will now be asked for the location of the Quorla "
    "Database,\rIf you would like to create a NEW Database, simply select the folder\ryou would like the Database "
    "created in.\r\rIf you wish to connect to an existing Database, Please choose the Folder that contains the "
    "Quorla Database.");

const QStringList AllFiles = {QStringLiteral("QLUsers.Ism"), QStringLiteral("QLAlarms.Ism"),
                              QStringLiteral("QLCat.Ism"), QStringLiteral("QLDayEnt.Ism")};

// Starts every case from a workstation whose store holds only `rootPath`
// (nothing at all when it is not given; an empty key when it is empty).
void prepareStore(std::optional<QString> rootPath)
{
    QFile::remove(TWorkstationStore().Location());
    if (!rootPath)
        return;
    TWorkstationStore store;
    QVERIFY(store.OpenKey(true));
    if (!rootPath->isEmpty())
        QVERIFY(store.WriteString(QStringLiteral("RootPath"), *rootPath));
}

std::optional<QString> storedRootPath()
{
    TWorkstationStore store;
    if (!store.OpenKey(false) || !store.ValueExists(QStringLiteral("RootPath")))
        return std::nullopt;
    return store.ReadString(QStringLiteral("RootPath"), QString());
}

// The dataset files in a folder, in AllFiles order.
QStringList datasetFiles(const QString& folder)
{
    QStringList present;
    for (const QString& name : AllFiles) {
        if (QFileInfo::exists(folder + QLatin1Char('/') + name))
            present << name;
    }
    return present;
}

// Everything in a folder, for "nothing else was created".
QStringList folderContents(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

UserRecord user(const QString& name)
{
    UserRecord r;
    r.setUserName(name);
    r.setFullName(name);
    r.setAbbreviation(name.left(3));
    return r;
}

CategoryRecord category(const QString& description)
{
    CategoryRecord r;
    r.setDescription(description);
    return r;
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

QString connectFailure()
{
    try {
        TQuorlaDB db;
    } catch (const EQuorlaDB& e) {
        return e.message();
    }
    return QStringLiteral("(connected)");
}

} // namespace

class tst_QuorlaDB : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesEmptyDatabase();
    void cancelledPickerStoresNothing();
    void missingKey();
    void storedPath_data();
    void storedPath();
    void partialFolderKeepsItsRecords();
    void failedConnect_data();
    void failedConnect();
    void chosenFolderStaysWhenOpeningFails();
    void twoConnectionsKeepTheirOwnPositions();
    void reopenSeesTheFileAsItIsNow();
    void reopenFailure();
    void newRecordDefaults();
};

void tst_QuorlaDB::firstStartCreatesEmptyDatabase()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("first"));
    prepareStore(QString());
    TScriptedServices services;
    services.expectMessage(Kind::Warning, Warning, Answer::Ok);
    services.expectFolder(folder);

    TQuorlaDB db;

    QCOMPARE(services.messages().size(), 1);
    QCOMPARE(services.messages().first().buttons, Buttons::Ok);
    QCOMPARE(services.folderCaptions(), QStringList{QStringLiteral("Select Quorla Database Location?")});
    QCOMPARE(storedRootPath(), std::optional<QString>(folder));
    QCOMPARE(db.RootPath(), folder + QLatin1Char('/'));
    QCOMPARE(datasetFiles(folder), AllFiles);
    for (TXIsamFile* f : {&db.Users(), &db.Alarms(), &db.Categories(), &db.DayEntries()}) {
        QVERIFY2(f->Active(), qPrintable(f->FileName()));
        QCOMPARE(f->RecordCount(), 0);
        QCOMPARE(QFileInfo(f->FileName()).absolutePath(), folder);
    }
    // The datasets are of the record layouts: a whole record goes in and out.
    UserRecord written = user(QStringLiteral("ADMIN")), read;
    QVERIFY(db.Users().Insert(written.bytes()));
    QVERIFY(db.Users().GetEqual(read.bytes(), 3, QStringLiteral("ADMIN")));
    QCOMPARE(read, written);
}

void tst_QuorlaDB::cancelledPickerStoresNothing()
{
    prepareStore(QString());
    TScriptedServices services;
    services.expectMessage(Kind::Warning, Warning, Answer::Ok);
    services.expectFolder(QString());

    QCOMPARE(connectFailure(), QStringLiteral("Unable to locate Quorla Database!"));
    QCOMPARE(storedRootPath(), std::nullopt);
}

void tst_QuorlaDB::missingKey()
{
    prepareStore(std::nullopt);
    TScriptedServices services;

    QCOMPARE(connectFailure(), QStringLiteral("Unable to locate Quorla root path in registry"));
    QVERIFY(services.messages().isEmpty());
    QVERIFY(services.folderCaptions().isEmpty());
    // Connecting never creates the key; that is the settings' job.
    QVERIFY(!QFileInfo::exists(TWorkstationStore().Location()));
}

void tst_QuorlaDB::storedPath_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("without separator") << QString();
    QTest::newRow("with separator") << QStringLiteral("/");
}

void tst_QuorlaDB::storedPath()
{
    QFETCH(QString, suffix);
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("stored"));
    prepareStore(folder + suffix);
    TScriptedServices services;

    TQuorlaDB db;

    QCOMPARE(db.RootPath(), folder + QLatin1Char('/'));
    QCOMPARE(storedRootPath(), std::optional<QString>(folder + suffix));
    QCOMPARE(db.Users().FileName(), folder + QStringLiteral("/QLUsers.Ism"));
    QCOMPARE(datasetFiles(folder), AllFiles);
}

void tst_QuorlaDB::partialFolderKeepsItsRecords()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("partial"));
    {
        TXIsamFile users, categories;
        QVERIFY(users.CreateDataset(folder + QStringLiteral("/QLUsers.Ism"), 10, UserRecord::Format));
        QVERIFY(users.Open(folder + QStringLiteral("/QLUsers.Ism")));
        QVERIFY(users.Insert(user(QStringLiteral("ANNA")).bytes()));
        QVERIFY(users.Insert(user(QStringLiteral("BERT")).bytes()));
        QVERIFY(categories.CreateDataset(folder + QStringLiteral("/QLCat.Ism"), 10, CategoryRecord::Format));
        QVERIFY(categories.Open(folder + QStringLiteral("/QLCat.Ism")));
        QVERIFY(categories.Insert(category(QStringLiteral("Meeting")).bytes()));
    }
    prepareStore(folder);
    TScriptedServices services;

    TQuorlaDB db;

    QCOMPARE(datasetFiles(folder), AllFiles);
    QCOMPARE(db.Users().RecordCount(), 2);
    QCOMPARE(db.Categories().RecordCount(), 1);
    QCOMPARE(db.Alarms().RecordCount(), 0);
    QCOMPARE(db.DayEntries().RecordCount(), 0);
    UserRecord anna;
    QVERIFY(db.Users().GetEqual(anna.bytes(), 3, QStringLiteral("ANNA")));
    QCOMPARE(anna.FullName(), QStringLiteral("ANNA"));
}

void tst_QuorlaDB::failedConnect_data()
{
    QTest::addColumn<QString>("garbageFile");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<QString>("expectedPrefix");
    QTest::addColumn<int>("expectedCode"); // -1: whatever the system reports
    QTest::addColumn<QStringList>("filesAfter");

    QTest::newRow("users file is not a dataset")
        << QStringLiteral("QLUsers.Ism") << true << true << QStringLiteral("Unable to open user isam\r\r")
        << int(IsamNotDataset) << QStringList{QStringLiteral("QLUsers.Ism")};
    QTest::newRow("categories file is not a dataset")
        << QStringLiteral("QLCat.Ism") << true << true << QStringLiteral("Unable to open category isam\r\r")
        << int(IsamNotDataset)
        << QStringList{QStringLiteral("QLAlarms.Ism"), QStringLiteral("QLCat.Ism"), QStringLiteral("QLUsers.Ism")};
    QTest::newRow("day entries file is not a dataset")
        << QStringLiteral("QLDayEnt.Ism") << true << true << QStringLiteral("Unable to open day entry isam\r\r")
        << int(IsamNotDataset)
        << QStringList{QStringLiteral("QLAlarms.Ism"), QStringLiteral("QLCat.Ism"), QStringLiteral("QLDayEnt.Ism"),
                       QStringLiteral("QLUsers.Ism")};
    QTest::newRow("folder no longer there") << QString() << false << true
                                            << QStringLiteral("Unable to create user isam\r\r")
                                            << int(IsamSystemCall) << QStringList{};
    QTest::newRow("folder not writable") << QString() << true << false
                                         << QStringLiteral("Unable to create user isam\r\r") << -1 << QStringList{};
}

void tst_QuorlaDB::failedConnect()
{
    QFETCH(QString, garbageFile);
    QFETCH(bool, folderExists);
    QFETCH(bool, folderWritable);
    QFETCH(QString, expectedPrefix);
    QFETCH(int, expectedCode);
    QFETCH(QStringList, filesAfter);

    if (!folderWritable && ::geteuid() == 0)
        QSKIP("running as root, where folder permissions do not bind");

    QString folder = TestEnvironment::freshFolder(QStringLiteral("failed"));
    if (!folderExists) {
        QVERIFY(QDir(folder).removeRecursively());
    }
    if (!garbageFile.isEmpty())
        writeFile(folder + QLatin1Char('/') + garbageFile, "This is a text file, not a dataset.\n");
    if (!folderWritable)
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    prepareStore(folder);
    TScriptedServices services;

    const QString message = connectFailure();

    if (!folderWritable)
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    QVERIFY2(message.startsWith(expectedPrefix), qPrintable(message));
    if (expectedCode >= 0)
        QCOMPARE(message, expectedPrefix + TXIsamFile::ErrorText(expectedCode));
    else
        QVERIFY2(message.size() > expectedPrefix.size(), "the engine's error text follows the message");
    QCOMPARE(folderContents(folder), filesAfter);
    QCOMPARE(storedRootPath(), std::optional<QString>(folder));
}

void tst_QuorlaDB::chosenFolderStaysWhenOpeningFails()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("chosen"));
    writeFile(folder + QStringLiteral("/QLUsers.Ism"), "not a dataset");
    prepareStore(QString());
    TScriptedServices services;
    services.expectMessage(Kind::Warning, Warning, Answer::Ok);
    services.expectFolder(folder);

    QVERIFY(connectFailure().startsWith(QStringLiteral("Unable to open user isam\r\r")));
    QCOMPARE(storedRootPath(), std::optional<QString>(folder));

    // The next start does not ask again and meets the same file.
    QVERIFY(connectFailure().startsWith(QStringLiteral("Unable to open user isam\r\r")));
}

void tst_QuorlaDB::twoConnectionsKeepTheirOwnPositions()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("two"));
    prepareStore(folder);
    TScriptedServices services;
    TQuorlaDB views;
    TQuorlaDB alarms;
    for (const char* name : {"Alpha", "Bravo", "Charlie", "Delta"})
        QVERIFY(views.Categories().Insert(category(QString::fromLatin1(name)).bytes()));

    CategoryRecord r;
    QVERIFY(views.Categories().Rewind(0));
    QVERIFY(views.Categories().Get(r.bytes(), 0, QString(), TXIsamFile::ScanNext));
    QCOMPARE(r.Description(), QStringLiteral("Alpha"));

    // Point reads and a scan on the other connection, right in the middle.
    QVERIFY(alarms.Categories().GetEqual(r.bytes(), 0, RecordKey::format(4)));
    QVERIFY(alarms.Categories().GetEqual(r.bytes(), 1, QStringLiteral("Charlie")));
    QVERIFY(alarms.Categories().Rewind(0));
    QVERIFY(alarms.Categories().Get(r.bytes(), 0, QString(), TXIsamFile::ScanNext));

    QVERIFY(views.Categories().Get(r.bytes(), 0, QString(), TXIsamFile::ScanNext));
    QCOMPARE(r.Description(), QStringLiteral("Bravo"));
    QCOMPARE(views.Categories().CurrentKey(), RecordKey::format(2));
}

void tst_QuorlaDB::reopenSeesTheFileAsItIsNow()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("reopen"));
    prepareStore(folder);
    TScriptedServices services;
    TQuorlaDB db;
    QVERIFY(db.Users().Insert(user(QStringLiteral("ANNA")).bytes()));

    // Another workstation replaces the users file (a restored copy, say).
    const QString usersFile = folder + QStringLiteral("/QLUsers.Ism");
    const QString replacement = folder + QStringLiteral("/replacement.Ism");
    {
        TXIsamFile other;
        QVERIFY(other.CreateDataset(replacement, 10, UserRecord::Format));
        QVERIFY(other.Open(replacement));
        QVERIFY(other.Insert(user(QStringLiteral("BERT")).bytes()));
        QVERIFY(other.Insert(user(QStringLiteral("CARL")).bytes()));
    }
    QVERIFY(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(usersFile).constData()) == 0);

    db.ReopenUsersAndCategories();

    QVERIFY(db.Users().Active());
    QVERIFY(db.Categories().Active());
    QCOMPARE(db.Users().RecordCount(), 2);
    UserRecord r;
    QVERIFY(db.Users().GetEqual(r.bytes(), 3, QStringLiteral("CARL")));
}

void tst_QuorlaDB::reopenFailure()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("reopen-failure"));
    prepareStore(folder);
    TScriptedServices services;
    TQuorlaDB db;
    QVERIFY(QFile::remove(folder + QStringLiteral("/QLCat.Ism")));

    try {
        db.ReopenUsersAndCategories();
        QFAIL("reopening a removed dataset succeeded");
    } catch (const EQuorlaDB& e) {
        QCOMPARE(e.message(), QStringLiteral("Unable to open category isam\r\r") + db.Categories().ErrorText());
        QVERIFY(db.Categories().LastError() != IsamOk);
    }
    // The users dataset was reopened before the categories failed.
    QVERIFY(db.Users().Active());
}

void tst_QuorlaDB::newRecordDefaults()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("defaults"));
    prepareStore(folder);
    TScriptedServices services;
    TQuorlaDB db;
    services.setNow(QDateTime(QDate(2024, 3, 5), QTime(10, 20, 30)));

    // Buffers that held other records before: nothing of that may survive.
    UserRecord u;
    std::ranges::fill(u.bytes(), char(0x5A));
    db.InitUserRecord(u);
    QVERIFY(std::ranges::all_of(u.bytes(), [](char c) { return c == 0; }));

    AlarmRecord a;
    std::ranges::fill(a.bytes(), char(0x5A));
    db.InitAlarmRecord(a);
    // 2024-03-05 10:20:30 counted as seconds since 1970-01-01 00:00:00.
    QCOMPARE(a.AlarmTime(), QStringLiteral("1709634030"));
    AlarmRecord expectedAlarm;
    expectedAlarm.setAlarmTime(QStringLiteral("1709634030"));
    QCOMPARE(a, expectedAlarm);

    DayEntryRecord d;
    std::ranges::fill(d.bytes(), char(0x5A));
    db.InitDayEntryRecord(d);
    QCOMPARE(d.Tag(), qint16(1));
    QCOMPARE(d.Flags(), 0);
    QCOMPARE(d.Description(), QString());
    QCOMPARE(d.StartTime(), QString());
    QCOMPARE(d.CategoryKey(), QStringLiteral("0000000000"));
    QCOMPARE(d.Assignee(DayEntryRecord::MaxAssignees - 1), QStringLiteral("0000000000"));
    QVERIFY(d.AssigneeKeys().isEmpty());
}

QUORLA_TEST_CORE_MAIN(tst_QuorlaDB)
#include "tst_quorladb.moc"
