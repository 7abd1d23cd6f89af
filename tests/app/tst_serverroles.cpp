// Each person logs in to the server as his own role: the first administrator
// is the role that made the database, the users' writers keep the roles, and
// the server's row policies agree with the program's rights, whether the
// program asks or a person's own libpq connection does.

#include "AppTestSupport.h"
#include "AlarmRecord.h"
#include "BinRecord.h"
#include "BookingRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "HolderNoteRecord.h"
#include "ImportRecord.h"
#include "PostgresCluster.h"
#include "PostgresConnection.h"
#include "QuorlaTest.h"
#include "SeriesRecord.h"
#include "TAlarmPoller.h"
#include "TChangeTrail.h"
#include "TClientNames.h"
#include "TBusyTimes.h"
#include "TBookingWriter.h"
#include "TDetailsWriter.h"
#include "TResourceWriter.h"
#include "TDatabaseCopier.h"
#include "TestEnvironment.h"
#include "TIsamFormat.h"
#include "TrailRecord.h"
#include "TRecordWriter.h"
#include "TEventWriter.h"
#include "TFilterRules.h"
#include "TRoleBounds.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedMachineServices.h"
#include "TScriptedServices.h"
#include "TSeriesWriter.h"
#include "TServerRoles.h"
#include "TSession.h"
#include "TUserRemoval.h"
#include "TUserWriter.h"
#include "UserRecord.h"

#include <QCryptographicHash>
#include <QtTest>

#include <libpq-fe.h>

#include <map>

using Verdict = TSession::Verdict;

namespace {

struct Person
{
    QString password;
    qint32 rights;
};

// BOSS made the database; MODIFIER is assigned the private entry.
const std::map<QString, Person> People{
    {QStringLiteral("PLAIN"), {QStringLiteral("PLAINPW"), UserRecord::CanAddEntries}},
    {QStringLiteral("MODIFIER"), {QStringLiteral("MODPW"), UserRecord::CanAddEntries | UserRecord::CanModifyOthersEntries}},
    {QStringLiteral("ADMIN2"), {QStringLiteral("ADMINPW"), 7}},
};

// Logs in by trying each name and password in turn; keeps the verdicts.
TSession::TLogin tryInTurn(QList<QPair<QString, QString>> tries, QList<Verdict>& verdicts)
{
    return [tries, &verdicts](const TSession::TCheck& check, UserRecord& user, QString& key) {
        for (const auto& [name, password] : tries) {
            verdicts << check(name, password, user, key);
            if (verdicts.last() == Verdict::LoggedIn)
                return true;
        }
        return false;
    };
}

} // namespace

class TestServerRoles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rolesFollowTheUsers();
    void rightsBothWays_data();
    void rightsBothWays();
    void nameAttacks_data();
    void nameAttacks();
    void recordAttacks_data();
    void recordAttacks();
    void alarmReadersFollowTheEntry();
    void ownAlarmFollowsHisRole();
    void searchPathAnswersNothing();
    void trailAttacks_data();
    void trailAttacks();
    void trailCleanUpOnServer();
    void trailLookUpsKeepToTheirIndex_data();
    void trailLookUpsKeepToTheirIndex();
    void lockAttacks_data();
    void lockAttacks();
    void sessionsPastTheirBounds_data();
    void sessionsPastTheirBounds();
    void unnotedLocksAtTheReap_data();
    void unnotedLocksAtTheReap();
    void pollAwaitsNoReap();
    void pollGrowsOnlyHisOwnSeries();
    void othersSeriesChangedWithTheirOccurrences();
    void detailsFollowTheEntry_data();
    void detailsFollowTheEntry();
    void binRowsFollowTheItem_data();
    void binRowsFollowTheItem();
    void busyTimesOfPrivateEntries_data();
    void busyTimesOfPrivateEntries();
    void bookingsFollowTheEntry_data();
    void bookingsFollowTheEntry();
    void removalDropsTheRole();
    void copiedUsersBecomeRoles();
    void switchingUserOpensHisSession();
    void earlierSetUpIsUpgraded();
    void cleanupTestCase();

private:
    // What user `name` may do, as the program judges it and as his own
    // session on the server finds it (through the store, and through SQL).
    bool programAllows(const QString& name, const QString& action);
    bool storeDoes(const QString& name, const QString& action);
    bool sqlDoes(const QString& name, const QString& action);
    // The first value `statement` answers as user `name`, or the rows it
    // changed; empty when it fails, and why in `error`.
    QString sql(const QString& name, const QByteArray& statement, QString* error = nullptr);
    QString passwordOf(const QString& name) const;
    // Adds user `name` with `rights` (and so his role) through the Users
    // writer, as BOSS.
    UserRecord addPerson(const QString& name, qint32 rights);
    // A session of PLAIN's own role, as any client opens it.
    std::unique_ptr<PGconn, decltype(&PQfinish)> plainSession() const;

    std::unique_ptr<PostgresCluster> cluster_;
    TDatabaseLocation location_;
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TSession> boss_;
    QMap<QString, QString> keys_;
    QString privateEntry_;
    QString publicEntry_;
    QString gonePrivate_;
    QString gonePublic_;
    QString category_;
    QString privateSeries_;
    QString publicSeries_;
    QString importRow_;
};

void TestServerRoles::initTestCase()
{
    cluster_ = std::make_unique<PostgresCluster>();
    QVERIFY2(cluster_->error().isEmpty(), qPrintable(cluster_->error()));
    // What an office's administrator does once on the server.
    cluster_->query(QStringLiteral("postgres"), "CREATE ROLE quorla_boss LOGIN CREATEROLE PASSWORD 'BOSSPW'");
    cluster_->query(QStringLiteral("postgres"), "CREATE DATABASE roles OWNER quorla_boss");
    QVERIFY2(cluster_->error().isEmpty(), qPrintable(cluster_->error()));
    location_ = TDatabaseLocation(cluster_->personalUri(QStringLiteral("roles")));
    QVERIFY(TQuorlaDB::LogsInAsPerson(location_));
    QVERIFY(!TQuorlaDB::LogsInAsPerson(TDatabaseLocation(cluster_->uri(QStringLiteral("roles")))));

    AppTest::freshWorkstation(location_.StoredText());
    services_ = std::make_unique<TScriptedServices>();
    services_->setUserName(QStringLiteral("someone"));

    // A wrong password is refused by the server; the right one makes the
    // creating role the first administrator, under the name typed.
    QList<Verdict> verdicts;
    QString welcomed;
    boss_ = std::make_unique<TSession>(TScriptedServices::ofTest());
    const auto start = boss_->StartUp(
        tryInTurn({{QStringLiteral("BOSS"), QStringLiteral("WRONG")}, {QStringLiteral("BOSS"), QStringLiteral("BOSSPW")}},
                  verdicts),
        [](const TQuorlaCfg&) {}, [&](const QString& name) { welcomed = name; });
    QCOMPARE(start, TSession::Start::Running);
    QCOMPARE(verdicts, (QList<Verdict>{Verdict::WrongPassword, Verdict::LoggedIn}));
    QCOMPARE(welcomed, QStringLiteral("BOSS"));
    QCOMPARE(boss_->CurrentUser().Rights(), 7);
    keys_[QStringLiteral("BOSS")] = boss_->CurrentUserKey();
    TQuorlaDB& db = *boss_->Database();
    QVERIFY(db.KeepsRoles());

    for (const auto& [name, person] : People)
        addPerson(name, person.rights);

    TEventWriter events(db);
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(QStringLiteral("0000086400"));
    entry.setOwnerKey(keys_[QStringLiteral("BOSS")]);
    entry.setDescription(QStringLiteral("private"));
    entry.setFlags(DayEntryRecord::Private);
    entry.setAssigneeKeys({keys_[QStringLiteral("MODIFIER")]});
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(QStringLiteral("0000001000"));
    // Each twice: the second one deleted by BOSS, its trail read as the first one's.
    privateEntry_ = events.insertEntryWithAlarms(entry, alarm);
    gonePrivate_ = events.insertEntryWithAlarms(entry, alarm);
    entry.setFlags(0);
    entry.setDescription(QStringLiteral("public"));
    entry.setAssigneeKeys({keys_[QStringLiteral("BOSS")]});
    publicEntry_ = events.insertEntryWithAlarms(entry, alarm);
    gonePublic_ = events.insertEntryWithAlarms(entry, alarm);
    for (const QString& key : {gonePublic_, gonePrivate_})
        QCOMPARE(events.deleteEntryWithAlarms(key), TEventWriter::Result::Done);
    // Weekly series from long ago: due to grow at every poll.
    for (const bool isPrivate : {true, false}) {
        SeriesRecord series;
        series.initialise();
        series.setOwnerKey(keys_[QStringLiteral("BOSS")]);
        series.setDescription(QStringLiteral("series"));
        series.setFlags(isPrivate ? SeriesRecord::Private : 0);
        series.setAssigneeKeys({keys_[isPrivate ? QStringLiteral("MODIFIER") : QStringLiteral("BOSS")]});
        series.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY;BYDAY=MO"), QDate(2020, 1, 6), QTime(9, 0)));
        const auto made = TSeriesWriter(db).Create(series, QDate(2020, 1, 6));
        QCOMPARE(made.result, TSeriesWriter::Result::Done);
        (isPrivate ? privateSeries_ : publicSeries_) = made.seriesKey;
    }
    CategoryRecord category;
    category.setDescription(QStringLiteral("MEETING"));
    QVERIFY(db.Categories().Insert(category.bytes()));
    category_ = db.Categories().CurrentKey();
    QString reason;
    ImportRecord imported;
    imported.setSource(keys_[QStringLiteral("BOSS")] + QString(40, QLatin1Char('a')));
    imported.setTargetKey(publicEntry_);
    QVERIFY2(db.ImportMap(reason) && db.ImportMap(reason)->Insert(imported.bytes()), qPrintable(reason));
    importRow_ = db.ImportMap(reason)->CurrentKey();

    // CalDAV names as an earlier set-up kept them, shared by everyone (one
    // naming an entry since deleted), an alarm action of BOSS, and SPY's own
    // alarm on an entry he may not see (not due: no poll meets it). The
    // upgrade gives the names to their entries' owners.
    const auto hash = [](const char* name) { return QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha1).toHex()); };
    for (const auto& [source, target] : {std::pair{QLatin1Char('=') + hash("victim-uid"), publicEntry_},
                                         {QLatin1Char('~') + publicEntry_ + QStringLiteral("00victim-uid"), publicEntry_},
                                         {QLatin1Char('=') + hash("gone-uid"), gonePublic_}}) {
        imported.setSource(source);
        imported.setTargetKey(target);
        QVERIFY(db.ImportMap(reason)->Insert(imported.bytes()));
    }
    db.Trail().Record({TChangeTrail::Action::AlarmSnoozed, &db.Alarms(), publicEntry_,
                       TChangeTrail::EntrySubject(publicEntry_), QStringLiteral("snoozed")});
    addPerson(QStringLiteral("SPY"), UserRecord::CanAddEntries);
    AppTest::addAlarm(db, QStringLiteral("2000000000"), keys_[QStringLiteral("SPY")], privateEntry_);
    cluster_->query(QStringLiteral("roles"), "COMMENT ON TABLE quorla_roles IS NULL");
    QVERIFY(TServerRoles(db).Upgrade());
}

UserRecord TestServerRoles::addPerson(const QString& name, qint32 rights)
{
    UserRecord user;
    user.setUserName(name);
    user.setFullName(name);
    user.setAbbreviation(name.left(3));
    user.setPassword(passwordOf(name));
    user.setRights(rights);
    QString key;
    if (TUserWriter(*boss_->Database()).addUser(user, key) != TUserWriter::Result::Done)
        qFatal("cannot add user %s", qPrintable(name));
    keys_[name] = key;
    return user;
}

QString TestServerRoles::passwordOf(const QString& name) const
{
    if (name == QLatin1String("BOSS"))
        return QStringLiteral("BOSSPW");
    const auto person = People.find(name);
    return person != People.end() ? person->second.password : name + QStringLiteral("PW");
}

void TestServerRoles::rolesFollowTheUsers()
{
    TQuorlaDB& db = *boss_->Database();
    // Passwords stay on the server, as verifiers; the records keep none, and
    // the server takes none.
    for (const auto& [name, person] : People) {
        UserRecord user;
        QVERIFY(TUserWriter(db.Users()).readUser(keys_[name], user));
        QCOMPARE(user.Password(), QString());
        QVERIFY(cluster_->query(QStringLiteral("roles"), "SELECT rolpassword FROM pg_authid WHERE rolname = '"
                                                             + TServerRoles::RoleName(name).toUtf8() + "'")
                    .startsWith(QLatin1String("SCRAM-SHA-256$")));
        QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT pg_has_role('" + TServerRoles::RoleName(name).toUtf8()
                                                              + "', 'quorla-admins', 'MEMBER')"),
                 QString((person.rights & UserRecord::CanAdminister) ? "t" : "f"));
    }
    cluster_->query(QStringLiteral("roles"), "UPDATE qlusers SET data = set_byte(data, 46, 65)");
    QVERIFY(cluster_->error().contains(QLatin1String("quorla_no_password")));

    // A new password reaches the role (an empty one keeps it); the old one
    // logs in no more.
    const QString admin2 = keys_[QStringLiteral("ADMIN2")];
    const QString role = TServerRoles::RoleName(QStringLiteral("ADMIN2"));
    UserRecord before;
    QVERIFY(TUserWriter(db.Users()).readUser(admin2, before));
    UserRecord after = before;
    for (const auto& [typed, kept, old] : {std::tuple{"NEWPW", "NEWPW", "ADMINPW"}, std::tuple{"ADMINPW", "ADMINPW", "NEWPW"},
                                           std::tuple{"", "ADMINPW", "NEWPW"}}) {
        after.setPassword(QString(typed));
        QCOMPARE(TUserWriter(db).updateUser(admin2, after, before), TUserWriter::Result::Done);
        QVERIFY_THROWS_EXCEPTION(TQuorlaDB::ERefused, TQuorlaDB(TScriptedServices::ofTest(), location_, {role, QString(old)}));
        TQuorlaDB(TScriptedServices::ofTest(), location_, {role, QString(kept)});
    }

    // Another administrator cannot set the password of the role that may
    // create roles (he would have its powers); nothing is written.
    TQuorlaDB other(TScriptedServices::ofTest(), location_, {role, QStringLiteral("ADMINPW")});
    other.SetActingUser(admin2);
    UserRecord boss;
    QVERIFY(TUserWriter(other.Users()).readUser(keys_[QStringLiteral("BOSS")], boss));
    UserRecord taken = boss;
    taken.setPassword(QStringLiteral("MINE"));
    const QString refusal = thrown([&] { TUserWriter(other).updateUser(keys_[QStringLiteral("BOSS")], taken, boss); });
    QVERIFY2(refusal.contains(QLatin1String("may create roles")), qPrintable(refusal));
    TQuorlaDB(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(QStringLiteral("BOSS")), QStringLiteral("BOSSPW")});
}

void TestServerRoles::rightsBothWays_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("allowed");
    // Action, then whether PLAIN, MODIFIER (an assignee, may change others'
    // entries) and ADMIN2 (administers) may do it.
    const QList<std::tuple<const char*, bool, bool, bool>> table{
        {"read the private entry", false, true, true},
        {"read its trail", false, true, true},
        {"read a private entry's deletion", false, true, true},
        {"read a public entry's deletion", true, true, true},
        {"read its alarm", false, true, true},
        {"read a public entry's alarm", true, true, true},
        {"change another's entry", false, true, true},
        {"read the private series", false, true, true},
        {"read its links", false, true, true},
        {"change another's series", false, true, true},
        {"give himself every right", false, false, true},
        {"change a category", false, false, true},
        {"set the office's zone", false, false, true},
        {"rewrite another's import map", false, false, true},
    };
    for (const auto& [action, plain, modifier, admin] : table) {
        QTest::addRow("PLAIN: %s", action) << QStringLiteral("PLAIN") << QString(action) << plain;
        QTest::addRow("MODIFIER: %s", action) << QStringLiteral("MODIFIER") << QString(action) << modifier;
        QTest::addRow("ADMIN2: %s", action) << QStringLiteral("ADMIN2") << QString(action) << admin;
    }
}

void TestServerRoles::rightsBothWays()
{
    QFETCH(QString, name);
    QFETCH(QString, action);
    QFETCH(bool, allowed);
    QCOMPARE(programAllows(name, action), allowed);
    QCOMPARE(storeDoes(name, action), allowed);
    QCOMPARE(sqlDoes(name, action), allowed);
    // Whatever else he may read, nobody reads a password.
    QCOMPARE(sql(name, "SELECT count(*) FROM qlusers WHERE get_byte(data, 46) <> 0"), QStringLiteral("0"));
}

bool TestServerRoles::programAllows(const QString& name, const QString& action)
{
    TSession as(TScriptedServices::ofTest());
    UserRecord user;
    TUserWriter(boss_->Database()->Users()).readUser(keys_[name], user);
    as.SetCurrentUser(user, keys_[name]);
    DayEntryRecord entry;
    TLookup::Equal(boss_->Database()->DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex,
                   action.contains(QLatin1String("public")) ? publicEntry_ : privateEntry_);
    if (action.startsWith(QLatin1String("read")))
        return as.EntryVisible(entry, TFilterRules());
    if (action.startsWith(QLatin1String("change another's")))
        return as.MayChange(keys_[QStringLiteral("BOSS")]);
    return as.MayAdminister();
}

bool TestServerRoles::storeDoes(const QString& name, const QString& action)
{
    TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(name), passwordOf(name)});
    db.SetActingUser(keys_[name]);
    if (action == QLatin1String("read the private entry")) {
        DayEntryRecord entry;
        return TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, privateEntry_);
    }
    if (action == QLatin1String("read its trail"))
        return !db.Trail().History(TChangeTrail::EntrySubject(privateEntry_)).isEmpty();
    if (action.endsWith(QLatin1String("deletion"))) {
        // Its whole trail, as BOSS reads it: the deletion last.
        const QString subject = TChangeTrail::EntrySubject(action.contains(QLatin1String("public")) ? gonePublic_ : gonePrivate_);
        const auto history = db.Trail().History(subject);
        return history.size() == boss_->Database()->Trail().History(subject).size()
            && history.last().action == TChangeTrail::Action::EventDeleted;
    }
    if (action.endsWith(QLatin1String("alarm"))) {
        AlarmRecord alarm;
        return TLookup::Equal(db.Alarms(), alarm.bytes(), AlarmRecord::DayEntryKeyIndex,
                              action.contains(QLatin1String("public")) ? publicEntry_ : privateEntry_);
    }
    if (action == QLatin1String("change another's entry")) {
        DayEntryRecord entry;
        TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, publicEntry_);
        entry.setDescription(QStringLiteral("changed by ") + name);
        return db.DayEntries().Update(entry.bytes(), publicEntry_);
    }
    if (action == QLatin1String("read the private series")) {
        SeriesRecord series;
        return TSeriesWriter(db).ReadSeries(privateSeries_, series);
    }
    if (action == QLatin1String("read its links")) {
        return !TSeriesWriter(db).Links(privateSeries_).isEmpty();
    }
    if (action == QLatin1String("change another's series")) {
        SeriesRecord series;
        TSeriesWriter(db).ReadSeries(publicSeries_, series);
        series.setDescription(QStringLiteral("changed by ") + name);
        return db.Series()->Update(series.bytes(), publicSeries_);
    }
    if (action == QLatin1String("give himself every right")) {
        UserRecord user;
        TUserWriter(db.Users()).readUser(keys_[name], user);
        UserRecord raised = user;
        raised.setRights(15);
        bool done = false;
        return thrown([&] { done = TUserWriter(db).updateUser(keys_[name], raised, user) == TUserWriter::Result::Done; })
                   .isEmpty() && done;
    }
    if (action == QLatin1String("rewrite another's import map")) {
        QString reason;
        TXIsamFile* map = db.ImportMap(reason);
        ImportRecord row;
        return map && TLookup::Equal(*map, row.bytes(), TXIsamFile::PrimaryIndex, importRow_)
            && map->Update(row.bytes(), importRow_);
    }
    if (action == QLatin1String("set the office's zone"))
        return thrown([&] { db.SetOfficeZone(name == QLatin1String("ADMIN2") ? "Europe/Paris" : "Asia/Tokyo"); }).isEmpty();
    CategoryRecord category;
    category.setDescription(name);
    return db.Categories().Insert(category.bytes());
}

namespace {

// `statement` run on `conn`: its first value, or else how many rows it
// touched (a failed statement has no rows and an empty count), with the
// server's error, if any, into `error`.
QString firstValue(PGconn* conn, const QByteArray& statement, QString* error)
{
    PGresult* result = PQexec(conn, statement.constData());
    const QString value = PQntuples(result) > 0 ? QString::fromUtf8(PQgetvalue(result, 0, 0))
                                                : QString::fromLatin1(PQcmdTuples(result));
    if (error)
        *error = QString::fromUtf8(PQresultErrorMessage(result));
    PQclear(result);
    return value;
}

} // namespace

QString TestServerRoles::sql(const QString& name, const QByteArray& statement, QString* error)
{
    const QByteArray conninfo = location_.Path().toUtf8() + "&user=" + TServerRoles::RoleName(name).toUtf8()
        + "&password=" + passwordOf(name).toUtf8();
    PGconn* conn = PQconnectdb(conninfo.constData());
    const QString value = PQstatus(conn) == CONNECTION_OK ? firstValue(conn, statement, error) : QString();
    PQfinish(conn);
    return value;
}

bool TestServerRoles::sqlDoes(const QString& name, const QString& action)
{
    const QByteArray entry = "'" + privateEntry_.toLatin1() + "'";
    const auto update = [](const char* table, const QString& key) {
        return "UPDATE " + QByteArray(table) + " SET data = data WHERE pk = '" + key.toLatin1() + "'";
    };
    const auto deletion = [](const QString& key) {
        return "SELECT count(*) FROM qltrail WHERE q_subject = 'E" + key.toLatin1() + "' AND get_byte(data, 0) = 3";
    };
    const QMap<QString, QByteArray> statements{
        {"read the private entry", "SELECT count(*) FROM qldayent WHERE pk = " + entry},
        {"read its trail", "SELECT count(*) FROM qltrail WHERE substring(data from 168 for 11) = 'E' || " + entry + "::bytea"},
        {"read a private entry's deletion", deletion(gonePrivate_)},
        {"read a public entry's deletion", deletion(gonePublic_)},
        {"read its alarm", "SELECT count(*) FROM qlalarms WHERE substring(data from 16 for 10) = " + entry + "::bytea"},
        {"read a public entry's alarm", "SELECT count(*) FROM qlalarms WHERE q_entry = '" + publicEntry_.toLatin1() + "'"},
        {"change another's entry", update("qldayent", publicEntry_)},
        {"read the private series", "SELECT count(*) FROM qlseries WHERE pk = '" + privateSeries_.toLatin1() + "'"},
        {"read its links", "SELECT count(*) FROM qlserlnk WHERE substring(data from 1 for 10) = '"
                               + privateSeries_.toLatin1() + "'::bytea"},
        {"change another's series", update("qlseries", publicSeries_)},
        {"give himself every right", "UPDATE qlusers SET data = set_byte(data, 0, 15) WHERE pk = '" + keys_[name].toLatin1() + "'"},
        {"change a category", update("qlcat", category_)},
        {"set the office's zone", "UPDATE quorla_settings SET value = value"},
        {"rewrite another's import map", update("qlimport", importRow_)},
    };
    const QString answer = sql(name, statements.value(action));
    return answer != QLatin1String("0") && !answer.isEmpty();
}

// Attacks on others' CalDAV names and alarms, each as its person's own role
// ({me}, {boss}: keys): each is refused or answers nothing, and afterwards
// BOSS's names stand as the upgrade gave them and PLAIN names his own events.
void TestServerRoles::nameAttacks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<QString>("answer");
    const QByteArray insert = "INSERT INTO qlimport (pk, data, ix1) VALUES ('0000099999', convert_to(rpad(";
    const QByteArray actions = "SELECT count(*) FROM qltrail WHERE get_byte(data, 0) IN (4, 5) AND q_actor = '{boss}'";
    for (const auto& [attack, name, statement, answer] :
         {std::tuple{"read another's names", "PLAIN", QByteArray("SELECT count(*) FROM qlimport WHERE q_user <> '{me}'"), "0"},
          {"change another's names", "PLAIN", "UPDATE qlimport SET data = data WHERE q_user <> '{me}'", "0"},
          {"delete another's names", "PLAIN", "UPDATE qlimport SET q_drop = true WHERE q_user <> '{me}'", "0"},
          {"write a name for everyone", "PLAIN", insert + "'=', 66, 'b'), 'UTF8'), '=')", ""},
          {"take another's UID", "PLAIN", insert + "'{boss}n', 66, 'b'), 'UTF8'), '{boss}n')", ""},
          {"his alarm on a hidden entry", "SPY", "SELECT count(*) FROM qlalarms WHERE q_user = '{me}' AND q_owner IS NOT NULL", "0"},
          {"read another's alarm actions", "PLAIN", actions, "0"},
          {"an administrator reads them", "ADMIN2", actions, "1"}})
        QTest::newRow(attack) << QString(name) << statement << QString(answer);
}

void TestServerRoles::nameAttacks()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QFETCH(QString, answer);
    const QString boss = keys_[QStringLiteral("BOSS")];
    QCOMPARE(sql(name, statement.replace("{me}", keys_[name].toLatin1()).replace("{boss}", boss.toLatin1())), answer);
    QString reason;
    ImportRecord row;
    const auto leadsTo = [&](TQuorlaDB& db, const QString& source) {
        return TLookup::Equal(*db.ImportMap(reason), row.bytes(), ImportRecord::SourceIndex, source) ? row.TargetKey() : QString();
    };
    TQuorlaDB plain(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(QStringLiteral("PLAIN")), passwordOf(QStringLiteral("PLAIN"))});
    const QString own = TClientNames::Forward(keys_[QStringLiteral("PLAIN")], QStringLiteral("victim-uid"));
    TClientNames::Put(*plain.ImportMap(reason), own, publicEntry_, false);
    QCOMPARE(leadsTo(plain, own), publicEntry_);
    TQuorlaDB& db = *boss_->Database();
    QCOMPARE(leadsTo(db, TClientNames::Forward(boss, QStringLiteral("victim-uid"))), publicEntry_);
    QCOMPARE(leadsTo(db, TClientNames::Part(boss, publicEntry_, 0, false) + QStringLiteral("victim-uid")), publicEntry_);
    QCOMPARE(leadsTo(db, TClientNames::Forward(boss, QStringLiteral("gone-uid"))), QString());
}

namespace {

// An INSERT of `record` under `key` into `table` (records of `format`), its
// index values those of `indexed`, moving the dataset's key mark in the same
// statement as a workstation adds (or, not `moved`, leaving it).
QByteArray insertion(const QByteArray& table, QLatin1StringView format, const QByteArray& key, const QByteArray& record,
                     const QByteArray& indexed, bool moved = true)
{
    const auto hex = [](const QByteArray& bytes) { return "'\\x" + bytes.toHex() + "'::bytea"; };
    TIsamFormat parsed;
    parsed.parse(format);
    QByteArray columns = "pk, data";
    QByteArray values = "'" + key + "', " + hex(record);
    for (int ix : parsed.indexes()) {
        columns += ", ix" + QByteArray::number(ix);
        values += ", " + hex(parsed.indexValue(ix, indexed.constData()));
    }
    const QByteArray into = "INSERT INTO " + table + " (" + columns + ")";
    return moved ? "WITH m AS (UPDATE quorla_datasets SET changes = changes + 1, highkey = '" + key + "' WHERE name = '"
            + table + "' RETURNING id) " + into + " SELECT " + values + " FROM m"
                 : into + " VALUES (" + values + ")";
}

} // namespace

void TestServerRoles::recordAttacks_data()
{
    QTest::addColumn<QString>("attack");
    // What the refusal names; empty for a row the server takes.
    QTest::addColumn<QString>("refusal");
    const QString record = QStringLiteral("quorla_record");
    const QString counters = QStringLiteral("counters of dataset");
    for (const auto& [attack, refusal] : std::initializer_list<std::pair<const char*, QString>>{
             {"a well-formed entry", {}}, {"an entry of the wrong length", record}, {"an entry of 1 MB", record},
             {"an assignee that is no key", record}, {"flags beyond the known ones", record},
             {"an index value not the record's", record}, {"a well-formed trail record", {}},
             {"a trail record squatting the next trail key", "not handed out"},
             {"an alarm naming entry 9999999999", "not handed out"}, {"the count of changes set back", counters},
             {"the key mark moved to the end", counters}, {"another identity", counters}})
        QTest::newRow(attack) << QString(attack) << refusal;
}

// A plain user writing with his own psql what no workstation would write is
// refused in the statement, and the others go on reading and writing.
void TestServerRoles::recordAttacks()
{
    QFETCH(QString, attack);
    QFETCH(QString, refusal);
    const QString plain = keys_[QStringLiteral("PLAIN")];
    const auto next = [&](const char* table) {
        return cluster_->query(QStringLiteral("roles"), "SELECT lpad((highkey::int8 + 1)::text, 10, '0') FROM quorla_datasets"
                                                       " WHERE name = '" + QByteArray(table) + "'").toLatin1();
    };
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(QStringLiteral("0000086400"));
    entry.setOwnerKey(plain);
    QByteArray spoilt = TRecordWriter::bytesOf(entry.bytes());
    QByteArray elsewhere = spoilt;
    elsewhere.replace(qsizetype(DayEntryRecord::StartTimeOffset), 10, "0000172800");
    if (attack.contains(QLatin1String("assignee")))
        spoilt.replace(qsizetype(DayEntryRecord::AssigneesOffset), 10, "000000000-");
    spoilt[0] = char(attack.startsWith(QLatin1String("flags")) ? 0x40 : 0);
    spoilt += QByteArray(attack.contains(QLatin1String("1 MB")) ? 1 << 20 : attack.contains(QLatin1String("length")), 'x');
    TrailRecord trail;
    const QByteArray trailKey = next("qltrail");
    // Of now: an old one would be the trail clean-up's.
    trail.setMoment(QDateTime::currentSecsSinceEpoch(), plain, QString::fromLatin1(trailKey));
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(QStringLiteral("0000005000"));
    alarm.setDayEntryKey(QStringLiteral("9999999999"));
    alarm.setUserKey(plain);
    alarm.rebuildUserAlarmKey();
    const QByteArray trailBytes = TRecordWriter::bytesOf(trail.bytes());
    const QByteArray alarmBytes = TRecordWriter::bytesOf(alarm.bytes());
    const QMap<QString, QByteArray> statements{
        {"a well-formed trail record", insertion("qltrail", TrailRecord::Format, trailKey, trailBytes, trailBytes)},
        {"a trail record squatting the next trail key",
         insertion("qltrail", TrailRecord::Format, trailKey, trailBytes, trailBytes, false)},
        {"an alarm naming entry 9999999999",
         insertion("qlalarms", AlarmRecord::Format, next("qlalarms"), alarmBytes, alarmBytes)},
        {"the count of changes set back", "UPDATE quorla_datasets SET changes = 0"},
        {"the key mark moved to the end", "UPDATE quorla_datasets SET highkey = '9999999999' WHERE name = 'qldayent'"},
        {"another identity", "UPDATE quorla_datasets SET identity = coalesce(identity, 'made');"
                             "UPDATE quorla_datasets SET identity = 'forged'"},
    };
    const QByteArray entryRow = insertion("qldayent", DayEntryRecord::Format, next("qldayent"), spoilt,
                                          attack.contains(QLatin1String("index")) ? elsewhere : spoilt);
    QString error;
    const QString answer = sql(QStringLiteral("PLAIN"), statements.value(attack, entryRow), &error);
    QVERIFY2(refusal.isEmpty() ? answer == QLatin1String("1") : error.contains(refusal), qPrintable(error));

    // MODIFIER adds an event with its alarm (not due: no later poll shows
    // it) and trail record, and reads every entry and alarm he may.
    const QString modifier = QStringLiteral("MODIFIER");
    TQuorlaDB other(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(modifier), passwordOf(modifier)});
    other.SetActingUser(keys_[modifier]);
    entry.setOwnerKey(keys_[modifier]);
    entry.setAssigneeKeys({keys_[modifier]});
    alarm.setAlarmTime(QStringLiteral("2000000000"));
    int read = 0;
    QCOMPARE(thrown([&] {
                 TEventWriter(other).insertEntryWithAlarms(entry, alarm);
                 TLookup::Each(other.DayEntries(), entry.bytes(), [&](const QString&) { ++read; });
                 TLookup::Each(other.Alarms(), alarm.bytes(), [&](const QString&) { ++read; });
             }), QString());
    QVERIFY(read > 2);
}

// Each poll grows series: a plain user's poll leaves the others' series (the
// server would refuse their occurrences) and still reads his alarms; an
// administrator's poll grows everyone's.
void TestServerRoles::pollGrowsOnlyHisOwnSeries()
{
    TQuorlaDB& boss = *boss_->Database();
    const auto reach = [&] {
        SeriesRecord one;
        SeriesRecord other;
        TSeriesWriter(boss).ReadSeries(privateSeries_, one);
        TSeriesWriter(boss).ReadSeries(publicSeries_, other);
        return one.MadeUntil() + other.MadeUntil();
    };
    const QString before = reach();
    TAlarmPoller poller([](AlarmRecord&, const QString&, TQuorlaDB&) { return 0; });
    for (const auto& [name, grows] : {std::pair{"PLAIN", false}, std::pair{"ADMIN2", true}}) {
        TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(QString(name)), passwordOf(QString(name))});
        db.SetActingUser(keys_[QString(name)]);
        // A poll makes one of a due series' writes; its horizon moves at the
        // last of them, so enough polls for both series.
        for (int poll = 0; poll < 16; ++poll)
            poller.Poll(db, keys_[QString(name)]);
        QCOMPARE(reach() != before, grows);
    }
}

// Whoever may change another's series changes its days, whole or from a day
// on: its occurrences (and the new part) are made as its owner's.
void TestServerRoles::othersSeriesChangedWithTheirOccurrences()
{
    const QDate day(2026, 11, 2);
    SeriesRecord series;
    series.initialise();
    series.setOwnerKey(keys_[QStringLiteral("BOSS")]);
    series.setDescription(QStringLiteral("team"));
    series.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY;BYDAY=MO"), day, QTime(9, 0)));
    const QString key = TSeriesWriter(*boss_->Database()).Create(series, day).seriesKey;
    for (const auto& [name, scope, from] : {std::tuple{"MODIFIER", TSeriesWriter::Scope::All, 0},
                                            std::tuple{"ADMIN2", TSeriesWriter::Scope::ThisAndFollowing, 14}}) {
        TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(QString(name)), passwordOf(QString(name))});
        db.SetActingUser(keys_[QString(name)]);
        // Another weekday: the occurrences are made anew.
        series.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY;BYDAY=TU,TH"), day.addDays(from), QTime(9, 0)));
        TSeriesWriter::TOutcome outcome;
        const QString refusal = thrown([&] {
            outcome = TSeriesWriter(db).Change(key, scope, day.addDays(from), series, day, TSeriesWriter::HeldOccurrences::Leave);
        });
        QVERIFY2(refusal.isEmpty() && outcome.result == TSeriesWriter::Result::Done, qPrintable(name + refusal));
    }
}

void TestServerRoles::detailsFollowTheEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement");
    // The first value, the rows changed, or a word of the refusal.
    QTest::addColumn<QString>("answer");
    const QByteArray count = "SELECT count(*) FROM qldetail WHERE q_key = ";
    QTest::newRow("a colleague reads a private entry's") << "PLAIN" << count + "'@P'" << "0";
    QTest::newRow("its assignee reads them") << "MODIFIER" << count + "'@P'" << "1";
    QTest::newRow("a colleague reads a public entry's") << "PLAIN" << count + "'@O'" << "1";
    QTest::newRow("a colleague adds to another's entry") << "PLAIN" << QByteArray("@ADD") << "row-level security";
    QTest::newRow("a colleague changes another's") << "PLAIN" << QByteArray("UPDATE qldetail SET data = data WHERE q_key = '@O'") << "0";
    QTest::newRow("a colleague removes another's") << "PLAIN" << QByteArray("UPDATE qldetail SET q_drop = true WHERE q_key = '@O'") << "0";
    QTest::newRow("an entry removed by marking takes them")
        << "MODIFIER" << QByteArray("UPDATE qldayent SET q_drop = true WHERE pk = '@P'; ") + "SELECT count(*) FROM qldayent WHERE pk = '@P'" << "0";
}

// A private entry's place and notes are read by whoever reads the entry
// alone, written by whoever may change it, and go with it however it goes.
void TestServerRoles::detailsFollowTheEntry()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QFETCH(QString, answer);
    TQuorlaDB& db = *boss_->Database();
    TRecordWriter writer;
    TEntryDetails details;
    details.location = QStringLiteral("secret room");
    AlarmRecord none;
    DayEntryRecord entry;
    QVERIFY(TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, publicEntry_));
    TDetailsWriter(db, writer).StoreEntry(publicEntry_, entry, details);
    entry.setFlags(DayEntryRecord::Private);
    entry.setAssigneeKeys({keys_[QStringLiteral("MODIFIER")]});
    const QString secret = TEventWriter(db).insertEntryWithAlarms(entry, none, {}, details);
    DetailRecord forged = DetailRecords::Split(DetailRecord::owner(DetailRecord::EntryMark, publicEntry_), details,
                                               entry.StartTime(), false, false)
                              .first();
    const QByteArray next = cluster_->query(QStringLiteral("roles"), "SELECT lpad((highkey::int8 + 1)::text, 10, '0')"
                                                                     " FROM quorla_datasets WHERE name = 'qldetail'").toLatin1();
    const QByteArray bytes = TRecordWriter::bytesOf(forged.bytes());
    statement.replace("@ADD", insertion("qldetail", DetailRecord::Format, next, bytes, bytes))
        .replace("@P", secret.toLatin1())
        .replace("@O", publicEntry_.toLatin1());
    QString error;
    const QString said = sql(name, statement, &error);
    QVERIFY2(said == answer || (said.isEmpty() && error.contains(answer)), qPrintable(said + error));
    const bool gone = said == QLatin1String("0") && statement.startsWith("UPDATE qldayent");
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) FROM qldetail WHERE q_key = '" + secret.toLatin1() + "'"),
             QString::number(gone ? 0 : 1));
}

void TestServerRoles::binRowsFollowTheItem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement");
    // The first value, the rows changed, or a word of the refusal.
    QTest::addColumn<QString>("answer");
    const QByteArray where = " WHERE encode(substring(data from 1 for 11), 'escape') = ";
    const QByteArray of = " FROM qlbin" + where;
    QTest::newRow("a colleague reads a private item's") << "PLAIN" << "SELECT count(*)" + of + "'E@P'" << "0";
    QTest::newRow("its assignee reads them") << "MODIFIER" << "SELECT count(*)" + of + "'E@P'" << "2";
    QTest::newRow("a colleague reads a public item's") << "PLAIN" << "SELECT count(*)" + of + "'E@O'" << "2";
    QTest::newRow("a colleague keeps one in another's name") << "PLAIN" << QByteArray("@ADD") << "row-level security";
    QTest::newRow("a colleague changes one") << "PLAIN" << "UPDATE qlbin SET data = data" + where + "'E@O'" << "0";
    QTest::newRow("a colleague removes one") << "PLAIN" << "UPDATE qlbin SET q_drop = true" + where + "'E@O'"
                                             << "0";
    QTest::newRow("who may change it removes them") << "MODIFIER"
                                                    << "UPDATE qlbin SET q_drop = true" + where + "'E@P'" << "2";
}

// The bin's rows are read by whoever could read the deleted entry, kept
// only in the deleter's own name, and removed only by who may change it.
void TestServerRoles::binRowsFollowTheItem()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QFETCH(QString, answer);
    BinRecord forged;
    forged.setItem(QLatin1Char('E') + publicEntry_);
    forged.setDeletedBy(keys_[QStringLiteral("BOSS")]);
    forged.setOwnerKey(keys_[QStringLiteral("BOSS")]);
    const QByteArray next = cluster_->query(QStringLiteral("roles"), "SELECT lpad((highkey::int8 + 1)::text, 10, '0')"
                                                                     " FROM quorla_datasets WHERE name = 'qlbin'").toLatin1();
    const QByteArray bytes = TRecordWriter::bytesOf(forged.bytes());
    statement.replace("@ADD", insertion("qlbin", BinRecord::Format, next, bytes, bytes))
        .replace("@P", gonePrivate_.toLatin1())
        .replace("@O", gonePublic_.toLatin1());
    QString error;
    const QString said = sql(name, statement, &error);
    QVERIFY2(said == answer || (said.isEmpty() && error.contains(answer)), qPrintable(said + error));
}

void TestServerRoles::bookingsFollowTheEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement");
    // The first value, the rows changed, or a word of the refusal.
    QTest::addColumn<QString>("answer");
    QTest::newRow("a colleague sees the room taken") << "PLAIN" << QByteArray("SELECT count(*) FROM qlbook WHERE q_entry = '@O'") << "1";
    QTest::newRow("a colleague books another's entry") << "PLAIN" << QByteArray("@ADD") << "row-level security";
    QTest::newRow("a colleague takes another's booking") << "PLAIN" << QByteArray("UPDATE qlbook SET q_drop = true WHERE q_entry = '@O'") << "0";
    QTest::newRow("a colleague adds a resource") << "PLAIN" << QByteArray("UPDATE qlres SET data = data") << "0";
    QTest::newRow("an overlap past the program") << "BOSS" << QByteArray("@ADD") << "quorla_booking_overlap";
    QTest::newRow("a colleague notes another's series' room") << "PLAIN" << QByteArray("@NOTE") << "row-level security";
    QTest::newRow("its owner notes his series' room") << "BOSS" << QByteArray("@NOTE") << "1";
}

// Whoever may change an entry books for it; the table refuses an overlap
// whoever writes it.
void TestServerRoles::bookingsFollowTheEntry()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QFETCH(QString, answer);
    TQuorlaDB& db = *boss_->Database();
    TResourceStore::TResource room{{}, QStringLiteral("Room %1").arg(QTest::currentDataTag()).left(30), {}, true};
    QCOMPARE(TResourceWriter(db).Add(room), TResourceWriter::Result::Done);
    TRecordWriter writer;
    TBookingWriter bookings(db, writer);
    TBookingWriter::TClaim claim = bookings.Claim(publicEntry_, {room.key}, {"0000090000", "0000093600"});
    bookings.Write(claim, publicEntry_);
    BookingRecord forged;
    forged.setSlot(room.key, QStringLiteral("0000093000"));
    forged.setEntry(publicEntry_);
    forged.setEnd(QStringLiteral("0000099000"));
    const QByteArray next = cluster_->query(QStringLiteral("roles"), "SELECT lpad((highkey::int8 + 1)::text, 10, '0')"
                                                                     " FROM quorla_datasets WHERE name = 'qlbook'").toLatin1();
    const QByteArray bytes = TRecordWriter::bytesOf(forged.bytes());
    // A series' note of the room it books: no entry, the series named.
    BookingRecord note = forged;
    note.setEntry(QStringLiteral("0000000000"));
    note.setSeries(publicSeries_);
    const QByteArray noted = TRecordWriter::bytesOf(note.bytes());
    statement.replace("@ADD", insertion("qlbook", BookingRecord::Format, next, bytes, bytes))
        .replace("@NOTE", insertion("qlbook", BookingRecord::Format, next, noted, noted))
        .replace("@O", publicEntry_.toLatin1());
    QString error;
    const QString said = sql(name, statement, &error);
    QVERIFY2(said == answer || (said.isEmpty() && error.contains(answer)), qPrintable(said + error));
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) FROM qlbook WHERE q_entry = '" + publicEntry_.toLatin1() + "'"),
             QStringLiteral("1"));
}

void TestServerRoles::removalDropsTheRole()
{
    TUserRemoval::TChoices choices;
    choices.deleteOwned = true;
    choices.deleteAssigned = true;
    TUserRemoval(*boss_->Database(), keys_[QStringLiteral("PLAIN")], choices).run();
    // Without the role nobody logs in as PLAIN.
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) FROM pg_roles WHERE rolname = 'quorla_plain'"),
             QStringLiteral("0"));
}

// A folder's users copied onto a server become roles with the passwords
// their records held; the copy's records keep none.
void TestServerRoles::copiedUsersBecomeRoles()
{
    const TDatabaseLocation folder(TestEnvironment::freshFolder(QStringLiteral("folder")) + QLatin1Char('/'));
    {
        TQuorlaDB db(TScriptedServices::ofTest(), folder);
        AppTest::addUser(db, QStringLiteral("MIGA"), QStringLiteral("MIGPW"), 3);
        AppTest::addUser(db, QStringLiteral("MIGB"), QString(), 1);
    }
    const TDatabaseLocation server(cluster_->createDatabase(QStringLiteral("copied")));
    TDatabaseCopier(folder, server).Run();
    TQuorlaDB copy(TScriptedServices::ofTest(), server, TQuorlaDB::Opening::ExistingOnly);
    const TServerRoles::TAdopted adopted = TServerRoles(copy).AdoptUsers();
    QCOMPARE(adopted.roles, 2);
    QCOMPARE(adopted.withoutPassword, 1);
    QVERIFY(copy.KeepsRoles());
    QCOMPARE(cluster_->query(QStringLiteral("copied"), "SELECT count(*) FROM qlusers WHERE get_byte(data, 46) <> 0"),
             QStringLiteral("0"));
    QCOMPARE(cluster_->query(QStringLiteral("copied"), "SELECT pg_has_role('quorla_miga', 'quorla-admins', 'MEMBER')"),
             QStringLiteral("t"));
    const TDatabaseLocation personal(cluster_->personalUri(QStringLiteral("copied")));
    TQuorlaDB miga(TScriptedServices::ofTest(), personal, {TServerRoles::RoleName(QStringLiteral("MIGA")), QStringLiteral("MIGPW")});
    QCOMPARE(miga.Users().RecordCount(), 2);
    QVERIFY_THROWS_EXCEPTION(TQuorlaDB::ERefused,
                             TQuorlaDB(TScriptedServices::ofTest(), personal, {TServerRoles::RoleName(QStringLiteral("MIGB")), QString()}));

    // A second office's MIGA on the same server gets a role of his own; a
    // role of one office does not connect to the other's database.
    const TDatabaseLocation second(TestEnvironment::freshFolder(QStringLiteral("office2")) + QLatin1Char('/'));
    AppTest::addUser(*std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), second), QStringLiteral("MIGA"), QStringLiteral("OTHERPW"), 1);
    const TDatabaseLocation office2(cluster_->createDatabase(QStringLiteral("office2")));
    TDatabaseCopier(second, office2).Run();
    QCOMPARE(TServerRoles(*std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), office2, TQuorlaDB::Opening::ExistingOnly)).AdoptUsers().roles, 1);
    for (const auto& [database, password, role] : {std::tuple{"copied", "MIGPW", "quorla_miga"},
                                                   std::tuple{"office2", "OTHERPW", "quorla@office2:miga"}, std::tuple{"office2", "MIGPW", ""}}) {
        TQuorlaDB::TLogin login{QString(), QString(password)};
        try {
            TServerRoles::LogIn(TScriptedServices::ofTest(), TDatabaseLocation(cluster_->personalUri(QString(database))), QStringLiteral("MIGA"), login);
        } catch (const TQuorlaDB::ERefused&) {
            login.role.clear();
        }
        QCOMPARE(login.role, QString(role));
    }
}

// Logging in as another user opens his own sessions; giving up keeps the
// user and the sessions there were.
void TestServerRoles::switchingUserOpensHisSession()
{
    QList<Verdict> verdicts;
    QVERIFY(!boss_->SwitchUser(tryInTurn({}, verdicts)));
    QCOMPARE(boss_->CurrentUserKey(), keys_[QStringLiteral("BOSS")]);
    QVERIFY(boss_->SwitchUser(tryInTurn(
        {{QStringLiteral("MODIFIER"), QStringLiteral("WRONG")}, {QStringLiteral("MODIFIER"), QStringLiteral("MODPW")}},
        verdicts)));
    QCOMPARE(verdicts, (QList<Verdict>{Verdict::WrongPassword, Verdict::LoggedIn}));
    QCOMPARE(boss_->CurrentUserKey(), keys_[QStringLiteral("MODIFIER")]);
    for (TQuorlaDB* db : {boss_->Database(), boss_->AlarmDatabase()})
        QCOMPARE(db->ServerConnection()->loginRole(), QByteArray("quorla_modifier"));
    QVERIFY(boss_->UserCache() != nullptr);
}

// A server set up by an earlier program (no set-up recorded, the alarms
// under one policy for every command) is brought to this one's set-up by
// the log-in of the role that owns the tables, and by nobody else's.
void TestServerRoles::earlierSetUpIsUpgraded()
{
    cluster_->query(QStringLiteral("roles"), "COMMENT ON TABLE quorla_roles IS NULL");
    cluster_->query(QStringLiteral("roles"), "CREATE POLICY quorla_admin ON qlalarms TO \"quorla-users\" USING (true)");
    cluster_->query(QStringLiteral("roles"), "ALTER TABLE qltrail DROP COLUMN q_readers CASCADE; DROP TABLE quorla_freed");
    // A busy-times function of an earlier set-up, missing what reaches in from far back.
    cluster_->query(QStringLiteral("roles"), "CREATE OR REPLACE FUNCTION quorla_busy_hidden(first_key text, last_key text, users text[])"
                                             " RETURNS TABLE (pk text, entry bytea, head bytea) LANGUAGE sql AS 'SELECT NULL, NULL::bytea, NULL::bytea'");
    cluster_->query(QStringLiteral("roles"), "REVOKE quorla_modifier FROM quorla_boss; CREATE OR REPLACE FUNCTION quorla_reap() RETURNS integer LANGUAGE sql AS 'SELECT 0'");
    QVERIFY2(cluster_->error().isEmpty(), qPrintable(cluster_->error()));
    for (const auto& [name, upgraded] : {std::pair{"ADMIN2", "1 false"}, std::pair{"BOSS", "0 true"}}) {
        QList<Verdict> verdicts;
        QVERIFY(boss_->SwitchUser(tryInTurn({{QString(name), passwordOf(QString(name))}}, verdicts)));
        QCOMPARE(cluster_->query(QStringLiteral("roles"),
                                 "SELECT count(*) || ' ' || (obj_description('quorla_roles'::regclass, 'pg_class') IS NOT NULL)"
                                 " FROM pg_policies WHERE policyname = 'quorla_admin' AND tablename = 'qlalarms'"),
                 QString(upgraded));
    }
    // The trail's records keep their readers, the deleted entries' keys are freed.
    const QByteArray gone = "'" + gonePrivate_.toLatin1() + "'";
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) || ' ' || (SELECT count(*) FROM quorla_freed WHERE pk = "
                                                          + gone + ") FROM qltrail WHERE q_readers IS NULL AND q_subject = 'E' || " + gone),
             QStringLiteral("0 1"));
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) FROM pg_proc WHERE proname = 'quorla_busy_hidden'"
                                                      " AND prosrc LIKE '%JOIN qlserlnk l ON l.ix1%'"),
             QStringLiteral("1"));
    // The set-up's owner holds the roles made before, for its reaps.
    QCOMPARE(cluster_->query(QStringLiteral("roles"), "SELECT pg_has_role('quorla_boss', 'quorla_modifier', 'USAGE')"
                                                      " AND (SELECT prosrc FROM pg_proc WHERE proname = 'quorla_reap') LIKE '%u.state = ''idle''%'"),
             QStringLiteral("t"));
}

void TestServerRoles::busyTimesOfPrivateEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");   // "-": busy without it
    QTest::addColumn<int>("hours");      // how long it lasts; read on its last day
    QTest::newRow("a colleague") << "PLAIN" << "-" << 2;
    QTest::newRow("a colleague, ten days into it") << "PLAIN" << "-" << 11 * 24;
    QTest::newRow("its assignee") << "MODIFIER" << "private" << 2;
    QTest::newRow("an administrator") << "ADMIN2" << "private" << 2;
}

// A private entry takes its assignee's time for everyone: a colleague, whose
// session may not read it, finds it busy (for as long as it lasts) without
// its text.
void TestServerRoles::busyTimesOfPrivateEntries()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, hours);
    TQuorlaDB& boss = *boss_->Database();
    DayEntryRecord entry;
    QVERIFY(TLookup::Equal(boss.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, privateEntry_));
    TRecordWriter writer;
    TEntryDetails details;
    details.durationSeconds = hours * 3600;
    details.location = QStringLiteral("secret room");
    TDetailsWriter(boss, writer).StoreEntry(privateEntry_, entry, details);
    TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(name), passwordOf(name)});
    UserRecord reader;
    QVERIFY(TLookup::Equal(db.Users(), reader.bytes(), TXIsamFile::PrimaryIndex, keys_[name]));
    const QString assignee = keys_[QStringLiteral("MODIFIER")];
    const auto busy = TBusyTimes(db, reader, keys_[name]).People({assignee}, hours * 3600, (hours + 24) * 3600).value(assignee);
    // (Other cases leave other entries of his that day.)
    const auto it = std::find_if(busy.cbegin(), busy.cend(),
                                 [this](const TBusyInterval& one) { return one.entryKey == privateEntry_; });
    QVERIFY(it != busy.cend());
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(it->start).arg(it->end).arg(it->hidden ? "-" : it->text),
             QStringLiteral("86400 %1 ").arg(86400 + hours * 3600) + text);
}

// An alarm is read by whoever reads its entry, also once the entry has
// changed who that is, and whatever a client writes beside the alarm.
void TestServerRoles::alarmReadersFollowTheEntry()
{
    TQuorlaDB& db = *boss_->Database();
    TEventWriter events(db);
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(QStringLiteral("0000086400"));
    entry.setOwnerKey(keys_[QStringLiteral("BOSS")]);
    entry.setDescription(QStringLiteral("made private"));
    entry.setAssigneeKeys({keys_[QStringLiteral("BOSS")]});
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(QStringLiteral("0000002000"));
    const QString key = events.insertEntryWithAlarms(entry, alarm);
    const QByteArray count = "SELECT count(*) FROM qlalarms WHERE q_entry = '" + key.toLatin1() + "'";
    QCOMPARE(sql(QStringLiteral("PLAIN"), count), QStringLiteral("1"));
    std::optional<TRecordLock> lock;
    bool hadAlarm = false;
    QCOMPARE(events.openEntry(key, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
    entry.setFlags(DayEntryRecord::Private);
    entry.setAssigneeKeys({keys_[QStringLiteral("BOSS")], keys_[QStringLiteral("MODIFIER")]});
    QCOMPARE(events.updateEntryWithAlarms(key, entry, alarm, alarm.AlarmTime()), TEventWriter::Result::Done);
    lock.reset();
    QCOMPARE(sql(QStringLiteral("PLAIN"), count), QStringLiteral("0"));
    QCOMPARE(sql(QStringLiteral("MODIFIER"), count), QStringLiteral("2"));
    // MODIFIER may change every alarm, not who reads one.
    QCOMPARE(sql(QStringLiteral("MODIFIER"), "UPDATE qlalarms SET q_private = false, q_owner = NULL,"
                                             " q_role = 'quorla_plain' WHERE q_entry = '" + key.toLatin1() + "'"),
             QStringLiteral("2"));
    QCOMPARE(sql(QStringLiteral("PLAIN"), count), QStringLiteral("0"));
}

// A person's own alarm of an entry he may not read is still his: it follows
// his role when it is renamed, and another user's role renamed to his old
// name reads none.
void TestServerRoles::ownAlarmFollowsHisRole()
{
    TQuorlaDB& db = *boss_->Database();
    const UserRecord mover = addPerson(QStringLiteral("MOVER"), UserRecord::CanAddEntries);
    AppTest::addAlarm(db, QStringLiteral("0000003000"), keys_[QStringLiteral("MOVER")], privateEntry_);
    const QByteArray count = "SELECT count(*) FROM qlalarms WHERE q_user = '" + keys_[QStringLiteral("MOVER")].toLatin1() + "'";
    QCOMPARE(sql(QStringLiteral("MOVER"), count), QStringLiteral("1"));
    QCOMPARE(sql(QStringLiteral("PLAIN"), count), QStringLiteral("0"));
    UserRecord moved = mover;
    moved.setUserName(QStringLiteral("MOVED"));
    moved.setPassword(passwordOf(QStringLiteral("MOVED")));
    TServerRoles(db).Change(mover, moved, moved.Password());
    QCOMPARE(sql(QStringLiteral("MOVED"), count), QStringLiteral("1"));
    const UserRecord newcomer = addPerson(QStringLiteral("NEWCOMER"), UserRecord::CanAddEntries);
    UserRecord taking = newcomer;
    taking.setUserName(QStringLiteral("MOVER"));
    TServerRoles(db).Change(newcomer, taking, passwordOf(QStringLiteral("MOVER")));
    QCOMPARE(sql(QStringLiteral("MOVER"), count), QStringLiteral("0"));
}

// A user who may create operators somewhere and puts them first on his
// search path still reads no private entry of others: nothing the policies
// run resolves an operator by the caller's search path.
void TestServerRoles::searchPathAnswersNothing()
{
    cluster_->query(QStringLiteral("roles"), "CREATE SCHEMA evil AUTHORIZATION quorla_plain");
    QVERIFY2(cluster_->error().isEmpty(), qPrintable(cluster_->error()));
    const QString read = sql(QStringLiteral("PLAIN"),
                             "CREATE FUNCTION evil.yes(text, text) RETURNS boolean LANGUAGE sql AS 'SELECT true';"
                             "CREATE FUNCTION evil.yes(text, name) RETURNS boolean LANGUAGE sql AS 'SELECT true';"
                             "CREATE OPERATOR evil.= (LEFTARG = text, RIGHTARG = text, FUNCTION = evil.yes);"
                             "CREATE OPERATOR evil.= (LEFTARG = text, RIGHTARG = name, FUNCTION = evil.yes);"
                             "SET search_path = evil, pg_catalog, public;"
                             "SELECT count(*) FROM qldayent WHERE pk OPERATOR(pg_catalog.=) '"
                                 + privateEntry_.toLatin1() + "'");
    // Gone before the verdict: PLAIN's removal later needs his role free.
    cluster_->query(QStringLiteral("roles"), "DROP SCHEMA evil CASCADE");
    QCOMPARE(read, QStringLiteral("0"));
}

// A plain user's tries at the trail from his own role, and an
// administrator's clean-up. After each, the others still read and write.
void TestServerRoles::trailAttacks_data()
{
    TEventWriter events(*boss_->Database());
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(QStringLiteral("0000086400"));
    entry.setOwnerKey(keys_[QStringLiteral("BOSS")]);
    entry.setFlags(DayEntryRecord::Private);
    entry.setAssigneeKeys({keys_[QStringLiteral("MODIFIER")]});
    AlarmRecord alarm;
    const QString madePublic = events.insertEntryWithAlarms(entry, alarm);
    // Made public, then changed again: only that last record was public on both sides.
    entry.setFlags(0);
    for (const char* description : {"checkup", "checkup moved"}) {
        entry.setDescription(QString(description));
        QCOMPARE(events.updateEntryWithAlarms(madePublic, entry, alarm, QString()), TEventWriter::Result::Done);
    }
    entry.setOwnerKey(keys_[QStringLiteral("PLAIN")]);
    const QByteArray own = events.insertEntryWithAlarms(entry, alarm).toLatin1();
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<QString>("answer");
    const auto records = [](const QString& key) { return "SELECT count(*) FROM qltrail WHERE q_subject = 'E" + key.toLatin1() + "'"; };
    // A role deletes a row by marking it for the server to remove.
    const QByteArray deleteFirstUserRecord
        = "UPDATE qltrail SET q_drop = true WHERE pk = (SELECT min(pk) FROM qltrail WHERE q_subject LIKE 'U%')";
    const QByteArray gone = "'" + gonePrivate_.toLatin1() + "'";
    QTest::newRow("once private, now public") << "PLAIN" << records(madePublic) << "1";
    QTest::newRow("once private, its assignee") << "MODIFIER" << records(madePublic) << "3";
    QTest::newRow("his own entry under a freed key")
        << "PLAIN" << "INSERT INTO qldayent (pk, data, ix3) SELECT " + gone + ", data, ix3 FROM qldayent WHERE pk = '" + own + "'" << "";
    QTest::newRow("deleted private") << "PLAIN" << records(gonePrivate_) << "0";
    QTest::newRow("clean-up of a recent record") << "PLAIN" << deleteFirstUserRecord << "0";
    QTest::newRow("administrator's clean-up") << "ADMIN2" << deleteFirstUserRecord << "1";
}

void TestServerRoles::trailAttacks()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QTEST(sql(name, statement), "answer");
    QCOMPARE(sql(QStringLiteral("MODIFIER"), "UPDATE qldayent SET data = data WHERE pk = '" + publicEntry_.toLatin1()
                                                 + "' RETURNING (SELECT count(*) FROM qltrail WHERE q_subject = 'E" + privateEntry_.toLatin1() + "')"),
             QStringLiteral("1"));
}

// The program's own clean-up, run by an administrator on a server, removes a
// batch of what is older than the days kept (everything, his clock years on).
void TestServerRoles::trailCleanUpOnServer()
{
    TScriptedMachineServices later;
    later.setNow(QDateTime(QDate(2036, 1, 1), QTime(0, 0)));
    TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(QStringLiteral("ADMIN2")), passwordOf(QStringLiteral("ADMIN2"))});
    db.SetActingUser(keys_[QStringLiteral("ADMIN2")]);
    QCOMPARE(db.Trail().Prune(), TChangeTrail::PruneBatch);
}

// A session plans its trail triggers' look-ups once: plans made while the
// trail was small (a new office's) must still go by the subjects' index
// when it has grown, not walk the whole trail, nor all of the subject's
// records, at every write.
void TestServerRoles::trailLookUpsKeepToTheirIndex_data()
{
    QTest::addColumn<int>("before");
    QTest::newRow("planned on an empty trail") << 0;
    QTest::newRow("planned on a trail of 600") << 600;
}

void TestServerRoles::trailLookUpsKeepToTheirIndex()
{
    QFETCH(int, before);
    const std::unique_ptr<PGconn, decltype(&PQfinish)> owner(
        PQconnectdb(cluster_->uri(QStringLiteral("roles")).toUtf8().constData()), &PQfinish);
    // A step's error, empty when it went through.
    const auto failed = [&](const QByteArray& statement) {
        QString error;
        firstValue(owner.get(), statement, &error);
        return error;
    };
    const auto value = [&](const QByteArray& statement) { return firstValue(owner.get(), statement, nullptr); };
    // The trail emptied (and known so) for this transaction only, then
    // `before` others' records (written with no triggers: the session has
    // planned nothing yet); a record of an entry written as often as it
    // takes a session to keep one plan; then others' records and more of
    // the entry's, as the trail grows.
    const QByteArray at = QByteArray::number(TrailRecord::SubjectOffset + 1);
    const auto copies = [&](bool others, int from, int to) {
        const QByteArray data = others ? "overlay(data placing convert_to('E' || lpad(n::text, 10, '0'), 'UTF8') from "
                + at + " for 11)"
                                       : QByteArray("data");
        return "INSERT INTO qltrail (pk, data, ix3, ix5, ix9) SELECT lpad(n::text, 10, '0'), d, ix3, ix5, substring(d from "
            + at + " for 11) FROM kept, generate_series(" + QByteArray::number(from) + ", " + QByteArray::number(to)
            + ") n, LATERAL (SELECT " + data + " AS d) r";
    };
    for (const QByteArray& step :
         {QByteArray("BEGIN"),
          "CREATE TEMP TABLE kept ON COMMIT DROP AS SELECT data, ix3, ix5, ix9 FROM qltrail WHERE q_subject = 'E"
              + publicEntry_.toLatin1() + "' LIMIT 1",
          QByteArray("TRUNCATE qltrail; ANALYZE qltrail;"
                     " UPDATE quorla_datasets SET highkey = '0000009999' WHERE name = 'qltrail'"),
          "SET LOCAL session_replication_role = replica; " + copies(true, 100, 99 + before)
              + "; SET LOCAL session_replication_role = origin",
          // From here written as any others are (a change of the replication
          // role would drop the session's plans).
          copies(false, 1, 8), copies(true, 100 + before, 3099), copies(false, 3100, 3599)})
        QCOMPARE(failed(step), QString());
    // The records the next write's look-ups go through: the entry's newest,
    // neither the others' nor all of the entry's.
    const QByteArray read = "SELECT pg_stat_get_xact_tuples_returned('qltrail'::regclass)"
                            " + pg_stat_get_xact_tuples_returned('qltrail_pkey'::regclass)"
                            " + pg_stat_get_xact_tuples_fetched('qltrail'::regclass)";
    const int first = value(read).toInt();
    QCOMPARE(failed(copies(false, 3600, 3600)), QString());
    const int last = value(read).toInt();
    failed("ROLLBACK");
    QCOMPARE_LT(last - first, 100);
}

void TestServerRoles::lockAttacks_data()
{
    QTest::addColumn<QByteArray>("attack");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("leftOpen");
    // Keys within the notes' key mark, as a workstation's would be.
    const qint64 base = cluster_->query(QStringLiteral("roles"), "SELECT coalesce(nullif(highkey, '')::int8, 0) FROM quorla_datasets"
                                                                " WHERE name = 'qlholders'").toLongLong();
    cluster_->query(QStringLiteral("roles"), "UPDATE quorla_datasets SET highkey = '" + RecordKey::format(base + 3).toLatin1()
                                                 + "' WHERE name = 'qlholders'");
    const QByteArray ownKey = RecordKey::format(base + 1).toLatin1();
    const QByteArray forgedKey = RecordKey::format(base + 2).toLatin1();
    const QByteArray bossKey = RecordKey::format(base + 3).toLatin1();
    const auto note = [&](const QString& user, const QByteArray& key) {
        HolderNoteRecord record;
        record.set(QStringLiteral("QLDayEnt.Ism#") + publicEntry_, keys_[user], QStringLiteral("ws"), QStringLiteral("0000000001"));
        const QByteArray data(record.bytes().data(), qsizetype(record.bytes().size()));
        return insertion("qlholders", HolderNoteRecord::Format, key, data, data, false) + ";";
    };
    const auto removal = [](const QByteArray& key) { return "UPDATE qlholders SET q_drop = true WHERE pk = '" + key + "'"; };
    cluster_->query(QStringLiteral("roles"), note(QStringLiteral("BOSS"), bossKey));
    QTest::newRow("own holder note") << note(QStringLiteral("PLAIN"), ownKey) + removal(ownKey) << "1" << false;
    QTest::newRow("forged holder note") << note(QStringLiteral("BOSS"), forgedKey) << "" << false;
    QTest::newRow("another's note changed") << "UPDATE qlholders SET data = data WHERE pk = '" + bossKey + "'" << "0"
                                            << false;
    QTest::newRow("another's live note removed") << removal(bossKey) << "0" << false;
    QTest::newRow("another's stale note removed")
        << "SELECT pg_advisory_lock(id * 10000000000 + " + bossKey + ") FROM quorla_datasets WHERE name = 'qlholders';"
            + removal(bossKey)
        << "1" << false;
    QTest::newRow("LOCK TABLE") << QByteArray("BEGIN; LOCK TABLE qldayent IN ACCESS EXCLUSIVE MODE; SELECT 'held'") << "" << false;
    QTest::newRow("every write held up, for long") << QByteArray("SELECT count(*) FROM (SELECT id FROM quorla_datasets FOR UPDATE) l, pg_sleep(25)") << "" << false;
    QTest::newRow("every write held up, left open") << QByteArray("BEGIN; SELECT id FROM quorla_datasets FOR UPDATE")
                                                    << "" << true;
}

// What a plain user's own role may do to hold up the others, and its
// bound: after each attack the others read and write as before.
void TestServerRoles::lockAttacks()
{
    QFETCH(QByteArray, attack);
    QFETCH(QString, answer);
    QFETCH(bool, leftOpen);
    if (!leftOpen) {
        QString error;
        QVERIFY2(sql(QStringLiteral("PLAIN"), attack, &error) == answer, qPrintable(error));
    } else {
        const auto conn = plainSession();
        PGresult* result = PQexec(conn.get(), attack.constData());
        QCOMPARE(PQresultStatus(result), PGRES_TUPLES_OK);
        PQclear(result);
        // The server ends it: the connection, only read from, breaks.
        QTRY_VERIFY_WITH_TIMEOUT(!PQconsumeInput(conn.get()) || PQstatus(conn.get()) != CONNECTION_OK,
                                 (TRoleBounds::IdleSeconds + 15) * 1000);
    }
    // Through the program: an entry and its alarm added, then removed.
    const QString modifier = QStringLiteral("MODIFIER");
    TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(modifier), passwordOf(modifier)});
    db.SetActingUser(keys_[modifier]);
    const QString key = AppTest::addEntry(db, AppTest::keyOf(2026, 1, 5), keys_[modifier], {keys_[modifier]});
    AppTest::addAlarm(db, QStringLiteral("0000004000"), keys_[modifier], key);
    QCOMPARE(TEventWriter(db).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
    QCOMPARE(sql(modifier, "SELECT count(*) FROM qlalarms WHERE q_entry = '" + key.toLatin1() + "'"), QStringLiteral("0"));
}

void TestServerRoles::sessionsPastTheirBounds_data()
{
    QTest::addColumn<QByteArray>("attack");
    const QByteArray unbound = "SET statement_timeout = 0; SET idle_in_transaction_session_timeout = 0; ";
    const QByteArray entryLock = cluster_->query(QStringLiteral("roles"), "SELECT id * 10000000000 + " + publicEntry_.toLatin1()
                                                     + " FROM quorla_datasets WHERE name = 'qldayent'").toLatin1();
    QTest::newRow("limits lifted, writes held open") << unbound + "BEGIN; SELECT id FROM quorla_datasets FOR UPDATE";
    QTest::newRow("limits lifted, writes held running")
        << unbound + "SELECT count(*) FROM (SELECT id FROM quorla_datasets FOR UPDATE) l, pg_sleep(600)";
    QTest::newRow("another's record lock") << "SELECT pg_advisory_lock(" + entryLock + ")";
}

// What a plain user's session does whatever he SETs in it is bounded by the
// server, at the polls of the others: his session is ended, the others
// write, and the owner edits his entry. A holder's own edit stays open.
void TestServerRoles::sessionsPastTheirBounds()
{
    QFETCH(QByteArray, attack);
    const QString modifier = QStringLiteral("MODIFIER");
    TQuorlaDB db(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(modifier), passwordOf(modifier)});
    db.SetActingUser(keys_[modifier]);
    const QString own = AppTest::addEntry(db, AppTest::keyOf(2026, 1, 6), keys_[modifier], {keys_[modifier]});
    const TRecordLock edit(db.DayEntries(), own, &db.Holders());
    const auto conn = plainSession();
    QVERIFY(PQsendQuery(conn.get(), attack.constData()));
    // Another workstation's polls (no alarm due).
    const QString spy = QStringLiteral("SPY");
    TQuorlaDB other(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(spy), passwordOf(spy)});
    const auto ended = [&] { return !PQconsumeInput(conn.get()) || PQstatus(conn.get()) != CONNECTION_OK; };
    // Polls that wait on the attack count their wait (a QTRY loop would not).
    const QDeadlineTimer enough((std::max(TRoleBounds::IdleSeconds, TRoleBounds::UnnotedLockSeconds) + 3 * TRoleBounds::ReapSeconds) * 1000);
    while (!ended() && !enough.hasExpired())
        TAlarmPoller([](AlarmRecord&, const QString&, TQuorlaDB&) { return 0; }).Poll(other, keys_[spy]);
    QVERIFY(ended());

    const QString key = AppTest::addEntry(db, AppTest::keyOf(2026, 1, 5), keys_[modifier], {keys_[modifier]});
    QCOMPARE(TEventWriter(db).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
    TQuorlaDB& boss = *boss_->Database();
    QVERIFY(TRecordLock(boss.DayEntries(), publicEntry_, &boss.Holders()).Held());
    QVERIFY(TRecordLock(boss.DayEntries(), own, &boss.Holders()).HolderLine().startsWith(modifier));
}

std::unique_ptr<PGconn, decltype(&PQfinish)> TestServerRoles::plainSession() const
{
    const QByteArray conninfo = location_.Path().toUtf8() + "&user=" + TServerRoles::RoleName(QStringLiteral("PLAIN")).toUtf8()
        + "&password=" + passwordOf(QStringLiteral("PLAIN")).toUtf8();
    return {PQconnectdb(conninfo.constData()), &PQfinish};
}

void TestServerRoles::unnotedLocksAtTheReap_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("seenFor");
    QTest::addColumn<bool>("ended");
    const QByteArray lock = "pg_advisory_lock(" + cluster_->query(QStringLiteral("roles"), "SELECT id * 10000000000 + "
        + publicEntry_.toLatin1() + " FROM quorla_datasets WHERE name = 'qldayent'").toLatin1() + ")";
    const int past = TRoleBounds::UnnotedLockSeconds + 20;
    QTest::newRow("held idle") << "SELECT " + lock << QByteArray() << 0 << true;
    QTest::newRow("a command's own, its statements running") << "BEGIN; SELECT " + lock << QByteArray("SELECT 1") << past << false;
    QTest::newRow("held briefly twice") << "SELECT " + lock << "SELECT pg_advisory_unlock_all(); BEGIN; SELECT " + lock << past << false;
    QTest::newRow("kept under statements") << "SELECT " + lock << QByteArray("BEGIN; SELECT 1") << TRoleBounds::BusyLockSeconds + 5 << true;
}

// A lock without its holder's note, as a reap sees it at two looks (the
// first one's sighting made `seenFor` seconds old), the second after the
// session has run nothing for longer than the bound of a lock held idle.
void TestServerRoles::unnotedLocksAtTheReap()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(int, seenFor);
    QFETCH(bool, ended);
    const auto conn = plainSession();
    const QByteArray reap = "UPDATE quorla_reaped SET at = '-infinity'; SELECT quorla_reap()";
    PQclear(PQexec(conn.get(), before.constData()));
    cluster_->query(QStringLiteral("roles"),
                    reap + "; UPDATE quorla_lock_seen SET seen = seen - interval '" + QByteArray::number(seenFor) + " s'");
    if (!after.isEmpty())
        PQclear(PQexec(conn.get(), after.constData()));
    QCOMPARE(PQstatus(conn.get()), CONNECTION_OK);
    QTest::qWait((TRoleBounds::UnnotedLockSeconds + 1) * 1000);
    cluster_->query(QStringLiteral("roles"), reap);
    QCOMPARE(QTest::qWaitFor([&] { return !PQconsumeInput(conn.get()) || PQstatus(conn.get()) != CONNECTION_OK; }, 2000),
             ended);
}

// The poll sends the reap without waiting for it: while a reap waits on the
// server, the poll is done.
void TestServerRoles::pollAwaitsNoReap()
{
    const std::unique_ptr<PGconn, decltype(&PQfinish)> holder(PQconnectdb(cluster_->uri(QStringLiteral("roles")).toUtf8().constData()), &PQfinish);
    PQclear(PQexec(holder.get(), "BEGIN; UPDATE quorla_reaped SET at = '-infinity'; LOCK TABLE quorla_reaped"));
    const QString spy = QStringLiteral("SPY");
    TQuorlaDB other(TScriptedServices::ofTest(), location_, {TServerRoles::RoleName(spy), passwordOf(spy)});
    TAlarmPoller poller([](AlarmRecord&, const QString&, TQuorlaDB&) { return 0; });
    poller.Poll(other, keys_[spy]);
    QTRY_COMPARE(cluster_->query(QStringLiteral("roles"), "SELECT count(*) FROM pg_stat_activity WHERE usename = 'quorla_spy'"
                                                          " AND wait_event_type = 'Lock'"), QStringLiteral("1"));
    PQclear(PQexec(holder.get(), "ROLLBACK"));
    poller.Poll(other, keys_[spy]);
}

void TestServerRoles::cleanupTestCase()
{
    boss_.reset();
    services_.reset();
}

QUORLA_TEST_GUI_MAIN(TestServerRoles)
#include "tst_serverroles.moc"
