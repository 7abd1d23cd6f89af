// The CalDAV service in this process, asked over loopback HTTP: who may read
// and write what, and how bad requests are refused, on a folder and (with
// QUORLA_TEST_ENGINE=postgres) on the private server, where each person is
// his own server role. The real clients' rounds are tst_davclients'.

#include "DavTestSupport.h"
#include "CategoryRecord.h"
#include "TCategoryWriter.h"
#include "ImportRecord.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TChangeTrail.h"
#include "TClock.h"
#include "TCommandScope.h"
#include "TDavBrake.h"
#include "TDavListener.h"
#include "TDavObject.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TDavServer.h"
#include "TDavService.h"
#include "TDavXml.h"
#include "TEventWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedServices.h"
#include "TServerRoles.h"
#include "TUserWriter.h"
#include "TestEnvironment.h"
#include "UserRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QXmlStreamReader>

#include <libical/ical.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

struct TAnswer
{
    int status = 0;
    QByteArray body;
    QByteArray etag;
};

const QByteArray Calendar = "/dav/calendars/ANNA/default/";
const QString Anna = QStringLiteral("ANNA:ANNAPW");

using THeaders = QList<QPair<QByteArray, QByteArray>>;

QByteArray ics(const QByteArray& uid, const QByteArray& summary, const QByteArray& extra = QByteArray())
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:" + uid
        + "\r\nDTSTAMP:20270101T000000Z\r\nDTSTART:20270302T100000Z\r\nSUMMARY:" + summary + "\r\n" + extra
        + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

const QByteArray PropfindHome
    = "<?xml version=\"1.0\"?><d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
      "<d:current-user-principal/><c:calendar-home-set/><d:resourcetype/></d:prop></d:propfind>";

QByteArray weekQuery(const QByteArray& start = "20270301T000000Z", const QByteArray& end = "20270308T000000Z")
{
    return "<?xml version=\"1.0\"?><c:calendar-query xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
           "<d:prop><d:getetag/><c:calendar-data/></d:prop><c:filter><c:comp-filter name=\"VCALENDAR\">"
           "<c:comp-filter name=\"VEVENT\"><c:time-range start=\"" + start + "\" end=\"" + end + "\"/>"
           "</c:comp-filter></c:comp-filter></c:filter></c:calendar-query>";
}

// A request on a connection of its own from `source`, answered while the
// event loop runs: status() is 0 until the answer's status line is in.
struct TRawRequest
{
    TRawRequest(quint16 port, const QByteArray& method, const QByteArray& path, const QByteArray& user,
                const QByteArray& body = {}, const QHostAddress& source = QHostAddress::LocalHost)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.bind(source);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\nAuthorization: Basic " + user.toBase64()
                     + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    int status() const { return received.startsWith("HTTP/1.1 ") ? received.mid(9, 3).toInt() : 0; }

    QTcpSocket socket;
    QByteArray received;
};

// Holds a write of entry `key` open, uncommitted, on another connection
// until it goes: a change of that entry waits on the database meanwhile.
struct THeldWrite
{
    THeldWrite(TQuorlaDB& db, const QString& key)
    {
        DayEntryRecord entry;
        if (!db.Location().IsServer()) {
            const QByteArray path = QDir(db.RootPath()).filePath(DayEntryRecord::FileName).toUtf8();
            QVERIFY(sqlite3_open(path.constData(), &file) == SQLITE_OK
                    && sqlite3_exec(file, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK);
            return;
        }
        scope.emplace(db);
        QVERIFY(db.DayEntries().GetEqual(entry.bytes(), 0, key) && db.DayEntries().Update(entry.bytes(), key));
    }
    ~THeldWrite() { scope ? scope->Undo() : void(sqlite3_close(file)); }

    std::optional<TCommandScope> scope;
    sqlite3* file = nullptr;
};

QByteArray freeBusyQuery(const QByteArray& start, const QByteArray& end)
{
    const QByteArray range = start.isEmpty() ? QByteArray() : "<c:time-range start=\"" + start + "\" end=\"" + end + "\"/>";
    return "<?xml version=\"1.0\"?><c:free-busy-query xmlns:c=\"urn:ietf:params:xml:ns:caldav\">" + range
        + "</c:free-busy-query>";
}

// A VFREEBUSY request of `organizer` for the first days of March 2027, its
// people named by their principals.
QByteArray freeBusyRequest(const QByteArray& organizer, const QList<QByteArray>& attendees)
{
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nMETHOD:REQUEST\r\nBEGIN:VFREEBUSY\r\n"
                      "UID:fb-1\r\nDTSTAMP:20270101T000000Z\r\nDTSTART:20270301T000000Z\r\nDTEND:20270304T000000Z\r\n"
                      "ORGANIZER:/dav/principals/" + organizer + "/\r\n";
    for (const QByteArray& one : attendees)
        text += "ATTENDEE:/dav/principals/" + one + "/\r\n";
    return text + "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";
}

QByteArray syncQuery(const QByteArray& token)
{
    return "<?xml version=\"1.0\"?><d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" + token
        + "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>";
}

} // namespace

class TestDav : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void statuses_data();
    void statuses();
    void roundTrip();
    void lockedEntry();
    void hiddenLikeMissing_data();
    void hiddenLikeMissing();
    void seriesForColleague_data();
    void seriesForColleague();
    void privateDayWrittenBack();
    void hiddenNotSynced();
    void officeChanges_data();
    void officeChanges();
    void plainHttpFromAfar();
    void logInBrake_data();
    void logInBrake();
    void logInBrakeWide_data();
    void logInBrakeWide();
    void slowRequest();
    void idleFlood();
    void reapAwaitedByNone();
    void objectText_data();
    void objectText();

private:
    TAnswer ask(const QString& user, const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                const THeaders& headers = {});
    // With entry `key` open on a workstation, a PUT of `body` to `path` and
    // a DELETE of it are refused with 423 naming the holder, changing nothing.
    void refusedWhileOpen(const QString& key, const QByteArray& path, const QByteArray& body);
    // Every entry's key and bytes: what a refused request must leave as it was.
    QByteArray snapshot();
    // The service anew, as after a restart: nothing kept from before.
    void startService();
    // Anna's sync-collection since `token`.
    QByteArray syncSince(const QByteArray& token);
    // The trail's newest record (an empty one when there is none).
    TChangeTrail::TEntry latestRecord() { return boss_->Trail().Latest({}, QString(), 1).value(0); }

    std::unique_ptr<PostgresCluster> cluster_;
    TDatabaseLocation location_;
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> boss_;
    std::unique_ptr<TDavService> service_;
    TDavListener* listener_ = nullptr;
    std::unique_ptr<TDavServer> server_;
    QNetworkAccessManager net_;
    QHash<QString, QString> keys_;
    QStringList log_;
};

void TestDav::initTestCase()
{
    services_ = std::make_unique<TScriptedServices>();
    QUORLA_TEST_SERVER(cluster_);
    if (cluster_) {
        cluster_->query(QStringLiteral("postgres"), "CREATE ROLE quorla_boss LOGIN CREATEROLE PASSWORD 'BOSSPW'");
        cluster_->query(QStringLiteral("postgres"), "CREATE DATABASE dav OWNER quorla_boss");
        location_ = TDatabaseLocation(cluster_->personalUri(QStringLiteral("dav")));
        boss_ = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), location_, TQuorlaDB::TLogin{TServerRoles::RoleName(QStringLiteral("BOSS")),
                                                                        QStringLiteral("BOSSPW")});
    } else {
        location_ = TDatabaseLocation(TestEnvironment::freshFolder(QStringLiteral("dav")));
        boss_ = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), location_);
    }
    // Each user's password is his name and "PW", but EMPTY has none. On the
    // server the creating role becomes the first administrator, keeping his
    // role and its password, and the others become roles; the records keep
    // no password.
    const qint32 admin = UserRecord::CanAddEntries | UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries;
    for (const auto& [name, fullName, rights] :
         {std::tuple{"BOSS", "Big Boss", admin}, {"ANNA", "Anna", qint32(UserRecord::CanAddEntries)}, {"CARL", "Carl", 0},
          {"GROSS", "Gross", 0}, {"EMPTY", "Empty", 0},
          {"DORA", "Dora", qint32(UserRecord::CanAddEntries | UserRecord::CanModifyOthersEntries)}}) {
        UserRecord user;
        user.setUserName(QLatin1String(name));
        user.setFullName(QLatin1String(fullName));
        user.setAbbreviation(QLatin1String(name).left(2));
        user.setPassword(qstrcmp(name, "EMPTY") == 0 ? QString() : QLatin1String(name) + QStringLiteral("PW"));
        user.setRights(rights);
        QCOMPARE(TUserWriter(*boss_).addUser(user, keys_[QLatin1String(name)]), TUserWriter::Result::Done);
    }
    if (cluster_)
        TServerRoles(*boss_).AdoptUsers();
    const QString boss = keys_[QStringLiteral("BOSS")];
    boss_->SetActingUser(boss);
    const QString anna = keys_[QStringLiteral("ANNA")];
    keys_[QStringLiteral("public")] = addEntry(*boss_, boss, "Team meeting", 0, "2027-03-01T09:00:00");
    keys_[QStringLiteral("secret")] = addEntry(*boss_, boss, "Boss secret", DayEntryRecord::Private, "2027-03-02T09:00:00");
    keys_[QStringLiteral("dentist")] = addEntry(*boss_, anna, "Anna dentist", DayEntryRecord::Private, "2027-03-03T09:00:00");
    // A room the boss has booked for an hour, and a projector.
    keys_[QStringLiteral("room")] = addResource(*boss_, QStringLiteral("Room 4"), QStringLiteral("Meeting room for eight"));
    keys_[QStringLiteral("projector")] = addResource(*boss_, QStringLiteral("Projector"), QStringLiteral("Beamer"));
    // Kinds an administrator chose, against what their words suggest.
    keys_[QStringLiteral("studio")] = addResource(*boss_, QStringLiteral("Studio"), {}, TResourceStore::Kind::Room);
    keys_[QStringLiteral("key")]
        = addResource(*boss_, QStringLiteral("Room key"), QStringLiteral("Opens room 4"), TResourceStore::Kind::Other);
    addEntry(*boss_, boss, "Planning", 0, "2027-03-02T10:00:00", {}, 60, {keys_[QStringLiteral("room")]});

    // A client's name kept as before names were each user's: its entry's
    // owner's once the database is opened (a folder) or set up (a server).
    ImportRecord shared;
    shared.setSource(QLatin1Char('=') + QString::fromLatin1(QCryptographicHash::hash("old-name", QCryptographicHash::Sha1).toHex()));
    shared.setTargetKey(keys_[QStringLiteral("public")]);
    QString reason;
    QVERIFY(boss_->ImportMap(reason)->Insert(shared.bytes()));
    if (cluster_)
        TServerRoles(*boss_).Install(boss);
    startService();
}

void TestDav::startService()
{
    server_.reset();
    service_ = std::make_unique<TDavService>(TScriptedServices::ofTest(), location_);
    listener_ = new TDavListener();
    QVERIFY(listener_->listen(QHostAddress::LocalHost, 0));
    server_ = std::make_unique<TDavServer>(*service_, listener_);
    server_->Log = [this](const QString& line) { log_ << line; };
}

void TestDav::cleanupTestCase()
{
    server_.reset();
    service_.reset();
    boss_.reset();
}

QByteArray TestDav::snapshot()
{
    QByteArray all;
    DayEntryRecord entry;
    TLookup::Each(boss_->DayEntries(), entry.bytes(), [&](const QString& key) {
        all += key.toLatin1() + QByteArray(entry.bytes().data(), qsizetype(entry.bytes().size()));
    });
    return all;
}

TAnswer TestDav::ask(const QString& user, const QByteArray& method, const QByteArray& path, const QByteArray& body,
                     const THeaders& headers)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(listener_->serverPort())
                                 + QString::fromUtf8(path)));
    if (!user.isEmpty())
        request.setRawHeader("Authorization", "Basic " + user.toUtf8().toBase64());
    request.setRawHeader("User-Agent", "tst_dav/1.0");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/calendar"));
    QNetworkReply* reply = net_.sendCustomRequest(request, method, body);
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(10000);
    TAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.etag = reply->rawHeader("ETag");
    reply->deleteLater();
    return answer;
}

void TestDav::statuses_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<THeaders>("headers");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<QByteArray>("hidden");
    const auto row = [](const char* name, const QString& user, const QByteArray& method, const QByteArray& path,
                        const QByteArray& body, const THeaders& headers, int status, const QByteArray& shown = {},
                        const QByteArray& hidden = {}) {
        QTest::newRow(name) << user << method << path << body << headers << status << shown << hidden;
    };

    const QString anna = QStringLiteral("ANNA:ANNAPW");
    const QByteArray valid = ics("new-event", "Fresh");
    const QByteArray boss = "/dav/calendars/BOSS/default/";
    row("no log-in", {}, "PROPFIND", "/dav/", PropfindHome, {}, 401, "password is wrong");
    row("wrong password", "ANNA:NOPE", "PROPFIND", "/dav/", PropfindHome, {}, 401);
    row("unknown user", "NOBODY:ANNAPW", "GET", Calendar, {}, {}, 401);
    row("no password", "EMPTY:", "PROPFIND", "/dav/", PropfindHome, {}, 401);
    row("sharp s upper-cased as SS", QStringLiteral("Groß:GROSSPW"), "PROPFIND", "/dav/principals/gro%C3%9F/",
        PropfindHome, {}, 207, "/dav/calendars/GROSS/</d:href>");
    row("well-known", {}, "GET", "/.well-known/caldav", {}, {}, 301, "/dav/");
    row("root names the principal", anna, "PROPFIND", "/dav/", PropfindHome, {}, 207, "/dav/principals/ANNA/");
    row("principal names the home", anna, "PROPFIND", "/dav/principals/anna/", PropfindHome, {}, 207,
        "/dav/calendars/ANNA/</d:href>");
    row("another's principal", anna, "PROPFIND", "/dav/principals/BOSS/", PropfindHome, {}, 403);
    row("another's calendar", anna, "REPORT", boss, weekQuery(), {}, 403, {}, "Boss secret");
    row("outside the home", anna, "GET", "/etc/passwd", {}, {}, 404);
    row("unknown method", anna, "FROB", "/dav/", {}, {}, 501, "FROB is not implemented");
    row("method not served", anna, "MKCOL", Calendar + "more/", {}, {}, 405);
    row("malformed XML", anna, "PROPFIND", Calendar, "<d:propfind xmlns:d=", {}, 400, "not well-formed");
    row("week hides others' private", anna, "REPORT", Calendar, weekQuery(), {}, 207, "SUMMARY:Anna dentist",
        "Boss secret");
    row("week shows the public", anna, "REPORT", Calendar, weekQuery(), {}, 207, "SUMMARY:Team meeting");
    row("an administrator sees it", "BOSS:BOSSPW", "REPORT", boss, weekQuery(), {}, 207, "SUMMARY:Boss secret");
    row("a name kept before, its owner's", "BOSS:BOSSPW", "GET", boss + "old-name.ics", {}, {}, 200, "SUMMARY:Team meeting");
    row("not another's", anna, "GET", Calendar + "old-name.ics", {}, {}, 404);
    row("GET another's private", anna, "GET", Calendar + "{secret}.ics", {}, {}, 404, {}, "Boss secret");
    row("listing hides it", anna, "PROPFIND", Calendar, "<d:propfind xmlns:d=\"DAV:\"><d:allprop/></d:propfind>",
        {{"Depth", "1"}}, 207, "{dentist}.ics", "{secret}.ics");
    row("malformed iCalendar", anna, "PUT", Calendar + "bad.ics", "BEGIN:VCARD\r\nEND:VCARD\r\n", {}, 400,
        "not an iCalendar");
    row("extra dates", anna, "PUT", Calendar + "rdate.ics", ics("rdate", "Twice", "RDATE:20270309T100000Z\r\n"), {},
        422, "valid-calendar-object-resource xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/><d:responsedescription>The "
        "event cannot be stored: its extra dates");
    row("entry made repeating", anna, "PUT", Calendar + "{dentist}.ics",
        ics("weekly", "Weekly", "RRULE:FREQ=WEEKLY;COUNT=3\r\n"), {}, 422, "on a workstation");
    row("no right to add", "CARL:CARLPW", "PUT", "/dav/calendars/CARL/default/new.ics", valid, {}, 403,
        "may not add entries");
    row("another's entry", anna, "PUT", Calendar + "{public}.ics", valid, {}, 403, "may not change");
    row("another's delete", anna, "DELETE", Calendar + "{public}.ics", {}, {}, 403);
    row("stale If-Match", anna, "PUT", Calendar + "{dentist}.ics", valid, {{"If-Match", "\"0123\""}}, 412,
        "changed since");
    row("If-None-Match on one there", anna, "PUT", Calendar + "{dentist}.ics", valid, {{"If-None-Match", "*"}}, 412);
    row("delete what is not there", anna, "DELETE", Calendar + "9999999999.ics", {}, {}, 404);
    row("foreign sync token", anna, "REPORT", Calendar, syncQuery("http://x/1"), {}, 403, "valid-sync-token");
    row("line break in the path", anna, "GET", "/dav/%0D%0A2027-01-01T00:00:00Z BOSS GET /x 200 1ms%252", {}, {}, 404);
    row("huge body", anna, "PUT", Calendar + "huge.ics", ics("huge", QByteArray(2 * 1024 * 1024, 'x')), {}, 413);

    // Free and busy time: a colleague's private entry is busy without its text.
    row("a colleague's free-busy", anna, "REPORT", boss, freeBusyQuery("20270301T000000Z", "20270303T000000Z"), {},
        200, "FREEBUSY;FBTYPE=BUSY:20270301T090000Z/20270301T093000Z\r\nFREEBUSY;FBTYPE=BUSY:20270302T090000Z/", "Boss secret");
    row("free-busy cut to the range", anna, "REPORT", Calendar, freeBusyQuery("20270303T091500Z", "20270304T000000Z"),
        {}, 200, "FREEBUSY;FBTYPE=BUSY:20270303T091500Z/20270303T093000Z", "dentist");
    row("free-busy without a range", anna, "REPORT", boss, freeBusyQuery({}, {}), {}, 403, "valid-filter");
    row("principal leads to the outbox", anna, "PROPFIND", "/dav/principals/ANNA/",
        "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop><c:schedule-outbox-URL/>"
        "<c:calendar-user-address-set/></d:prop></d:propfind>", {}, 207,
        "<c:schedule-outbox-URL><d:href>/dav/calendars/ANNA/outbox/</d:href>");
    const QByteArray outbox = "/dav/calendars/ANNA/outbox/";
    row("outbox: each recipient's busy time", anna, "POST", outbox, freeBusyRequest("ANNA", {"BOSS", "ANNA", "NOBODY"}),
        {}, 200, "<c:recipient><d:href>/dav/principals/BOSS/</d:href></c:recipient><c:request-status>2.0;Success"
        "</c:request-status><c:calendar-data>BEGIN:VCALENDAR&#13;\nVERSION:2.0&#13;\nPRODID:-//KLV//Quorla//EN&#13;\n"
        "METHOD:REPLY&#13;\nBEGIN:VFREEBUSY&#13;\n", "Boss secret");
    row("outbox: busy of each", anna, "POST", outbox, freeBusyRequest("ANNA", {"BOSS", "ANNA"}), {}, 200,
        "FREEBUSY;FBTYPE=BUSY:20270303T090000Z/20270303T093000Z");
    row("outbox: a stranger", anna, "POST", outbox, freeBusyRequest("ANNA", {"NOBODY"}), {}, 200,
        "<c:request-status>3.7;Invalid calendar user</c:request-status>");
    row("outbox: as another organizer", anna, "POST", outbox, freeBusyRequest("BOSS", {"ANNA"}), {}, 403,
        "organizer-allowed");
    row("outbox: another's", anna, "POST", "/dav/calendars/BOSS/outbox/", freeBusyRequest("ANNA", {"ANNA"}), {}, 403);
    row("POST elsewhere", anna, "POST", Calendar, freeBusyRequest("ANNA", {"ANNA"}), {}, 405);

    // Resources: a principal each, a read-only calendar of bookings, busy time.
    const QByteArray room = "/dav/calendars/resource-{room}/default/";
    const QByteArray userType = "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
                                "<c:calendar-user-type/></d:prop></d:propfind>";
    row("a room's principal", anna, "PROPFIND", "/dav/principals/resource-{room}/", userType, {}, 207,
        "<c:calendar-user-type>ROOM</c:calendar-user-type>");
    row("a projector's principal", anna, "PROPFIND", "/dav/principals/resource-{projector}/", userType, {}, 207,
        "<c:calendar-user-type>RESOURCE</c:calendar-user-type>");
    row("a room by its kind", anna, "PROPFIND", "/dav/principals/resource-{studio}/", userType, {}, 207,
        "<c:calendar-user-type>ROOM</c:calendar-user-type>");
    row("another resource by its kind", anna, "PROPFIND", "/dav/principals/resource-{key}/", userType, {}, 207,
        "<c:calendar-user-type>RESOURCE</c:calendar-user-type>");
    row("a room's free-busy", anna, "REPORT", room, freeBusyQuery("20270301T000000Z", "20270303T000000Z"), {}, 200,
        "FREEBUSY;FBTYPE=BUSY:20270302T100000Z/20270302T110000Z");
    row("a room's bookings", anna, "REPORT", room, weekQuery(), {}, 207, "LOCATION:Room 4&#13;\nSUMMARY:Planning");
    row("the booking's attendee", anna, "REPORT", Calendar, weekQuery(), {}, 207,
        "ATTENDEE;CN=Room 4;CUTYPE=ROOM;ROLE=NON-PARTICIPANT:urn:x-quorla:");
    row("outbox: a room", anna, "POST", outbox, freeBusyRequest("ANNA", {"resource-{room}"}), {}, 200,
        "FREEBUSY;FBTYPE=BUSY:20270302T100000Z/20270302T110000Z");
    row("a room's calendar is read-only", anna, "PUT", room + "x.ics", valid, {}, 403, "read-only");
    row("a PUT booking a busy room", anna, "PUT", Calendar + "clash.ics",
        ics("clash", "Clash", "DURATION:PT30M\r\nATTENDEE;CUTYPE=ROOM:/dav/principals/resource-{room}/\r\n"), {}, 409,
        "Room 4");
}

void TestDav::statuses()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(THeaders, headers);
    QFETCH(int, status);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, hidden);
    for (const QString& name : {QStringLiteral("public"), QStringLiteral("secret"), QStringLiteral("dentist"),
                                QStringLiteral("room"), QStringLiteral("projector"), QStringLiteral("studio"),
                                QStringLiteral("key")}) {
        const QByteArray mark = "{" + name.toLatin1() + "}";
        path.replace(mark, keys_[name].toLatin1());
        body.replace(mark, keys_[name].toLatin1());
        shown.replace(mark, keys_[name].toLatin1());
        hidden.replace(mark, keys_[name].toLatin1());
    }
    const QByteArray before = snapshot();
    const TAnswer answer = ask(user, method, path, body, headers);
    QCOMPARE(answer.status, status);
    QVERIFY2(answer.body.contains(shown), answer.body.constData());
    if (!hidden.isEmpty())
        QVERIFY2(!answer.body.contains(hidden), answer.body.constData());
    if (status >= 400)
        QCOMPARE(snapshot(), before);
    // The service goes on serving, and the log never holds a password.
    const QByteArray dentist = Calendar + keys_[QStringLiteral("dentist")].toLatin1() + ".ics";
    QCOMPARE(ask(QStringLiteral("ANNA:ANNAPW"), "GET", dentist).status, 200);
    QVERIFY(!log_.join(QLatin1Char('\n')).contains(QLatin1String("PW")));
    static const QRegularExpression oneLine(QStringLiteral("^[^\\x00-\\x1f\\x7f]* \\d{3} \\d+ms$"));
    for (const QString& line : std::as_const(log_))
        QVERIFY2(oneLine.match(line).hasMatch(), qPrintable(line));
}

void TestDav::roundTrip()
{
    const QString anna = QStringLiteral("ANNA:ANNAPW");
    const auto tokenOf = [](const QByteArray& body) {
        const QRegularExpression token(QStringLiteral("<d:sync-token>([^<]*)</d:sync-token>"));
        return token.match(QString::fromUtf8(body)).captured(1).toUtf8();
    };
    const QByteArray token0 = tokenOf(ask(anna, "REPORT", Calendar, syncQuery(QByteArray())).body);
    QVERIFY(!token0.isEmpty());

    // Added under the client's own name, with an alarm that becomes Anna's.
    const QByteArray object = Calendar + "client-uid-1.ics";
    const QByteArray alarm = "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";
    const TAnswer added = ask(anna, "PUT", object, ics("client-uid-1", "Lunch", alarm), {{"If-None-Match", "*"}});
    QCOMPARE(added.status, 201);
    QVERIFY(!added.etag.isEmpty());
    const TAnswer read = ask(anna, "GET", object);
    QCOMPARE(read.status, 200);
    QCOMPARE(read.etag, added.etag);
    QVERIFY2(read.body.contains("UID:client-uid-1\r\n") && read.body.contains("SUMMARY:Lunch")
                 && read.body.contains("TRIGGER:-PT15M"),
             read.body.constData());
    QVERIFY(ask(anna, "REPORT", Calendar, weekQuery()).body.contains("SUMMARY:Lunch"));
    // Stored other than sent (its summary cut): no ETag, the client reads it back.
    const TAnswer cut = ask(anna, "PUT", Calendar + "cut.ics", ics("cut", QByteArray(300, 'x')));
    QVERIFY(cut.status == 201 && cut.etag.isEmpty());
    QCOMPARE(latestRecord().workstation, QStringLiteral("quorla_dav: tst_dav/1.0"));
    QCOMPARE(latestRecord().userKey, keys_[QStringLiteral("ANNA")]);

    // The end, the place and long notes come back by GET and in a week's
    // query; a change of the notes alone moves the ETag.
    const QByteArray detailed = Calendar + "detailed.ics";
    const auto withNotes = [](const QByteArray& notes) {
        return ics("detailed", "Planning", "DTEND:20270302T110000Z\r\nLOCATION:Room 4\r\nDESCRIPTION:" + notes + "\r\n");
    };
    const QByteArray notes = "Agenda " + QByteArray(400, 'n');
    const TAnswer planned = ask(anna, "PUT", detailed, withNotes(notes), {{"If-None-Match", "*"}});
    QVERIFY(planned.status == 201 && !planned.etag.isEmpty());
    for (QByteArray served : {ask(anna, "GET", detailed).body, ask(anna, "REPORT", Calendar, weekQuery()).body}) {
        served.replace("&#13;", "\r").replace("\r\n ", "");
        QVERIFY2(served.contains("DURATION:PT1H\r") && served.contains("LOCATION:Room 4\r")
                     && served.contains("DESCRIPTION:" + notes + "\r"), served.constData());
    }
    const TAnswer renoted = ask(anna, "PUT", detailed, withNotes("Agenda"), {{"If-Match", planned.etag}});
    QVERIFY(renoted.status == 204 && !renoted.etag.isEmpty() && renoted.etag != planned.etag);
    QCOMPARE(ask(anna, "GET", detailed).etag, renoted.etag);
    // A text of several lines beside notes: stored as sent, served as sent.
    const QByteArray lines = "DESCRIPTION:Planning\\n second\\n\\nnotes\r\nX-QUORLA-TEXT-LINES:2\r\n";
    const TAnswer split = ask(anna, "PUT", Calendar + "lines.ics", ics("lines", "Planning", lines));
    QVERIFY(split.status == 201 && !split.etag.isEmpty());
    QVERIFY(ask(anna, "GET", Calendar + "lines.ics").body.contains(lines));
    // A range finds an event by its stored end, and one begun days before.
    QVERIFY(ask(anna, "REPORT", Calendar, weekQuery("20270302T104500Z", "20270302T110000Z")).body.contains("Planning"));
    QCOMPARE(ask(anna, "PUT", Calendar + "stay.ics",
                 ics("stay", "Fair", "DTSTART;VALUE=DATE:20270302\r\nDTEND;VALUE=DATE:20270305\r\n").replace(
                     "DTSTART:20270302T100000Z\r\n", "")).status, 201);
    QVERIFY(ask(anna, "REPORT", Calendar, weekQuery("20270304T000000Z", "20270305T000000Z")).body.contains("Fair"));

    // A change on the last ETag lands; one on a stale ETag loses nothing.
    const TAnswer changed = ask(anna, "PUT", object, ics("client-uid-1", "Long lunch", alarm), {{"If-Match", added.etag}});
    QCOMPARE(changed.status, 204);
    QVERIFY(!changed.etag.isEmpty() && changed.etag != added.etag);
    QCOMPARE(ask(anna, "PUT", object, ics("client-uid-1", "Short lunch"), {{"If-Match", added.etag}}).status, 412);
    QVERIFY(ask(anna, "GET", object).body.contains("SUMMARY:Long lunch"));
    // Boss's client giving an event of his own Anna's UID takes nothing of hers.
    QCOMPARE(ask(QStringLiteral("BOSS:BOSSPW"), "PUT", "/dav/calendars/BOSS/default/taken.ics",
                 ics("client-uid-1", "Boss text", "CLASS:PRIVATE\r\n")).status, 201);
    QVERIFY(ask(anna, "GET", object).body.contains("SUMMARY:Long lunch"));

    // A sync names what changed since the token: here, and on a workstation.
    const TAnswer synced = ask(anna, "REPORT", Calendar, syncQuery(token0));
    QVERIFY2(synced.body.contains(object + "</d:href>"), synced.body.constData());
    QVERIFY(!synced.body.contains(keys_[QStringLiteral("public")].toLatin1()));
    const QByteArray token1 = tokenOf(synced.body);
    DayEntryRecord moved;
    AlarmRecord none;
    QVERIFY(boss_->DayEntries().GetEqual(moved.bytes(), 0, keys_[QStringLiteral("public")]));
    moved.setDescription(QStringLiteral("Team meeting, moved"));
    QCOMPARE(TEventWriter(*boss_).updateEntryWithAlarms(keys_[QStringLiteral("public")], moved, none, QString()),
             TEventWriter::Result::Done);
    const TAnswer after = ask(anna, "REPORT", Calendar, syncQuery(token1));
    QVERIFY2(after.body.contains(keys_[QStringLiteral("public")].toLatin1() + ".ics"), after.body.constData());
    QVERIFY(!after.body.contains(object));

    // Deleted: gone, and the next sync says so.
    QCOMPARE(ask(anna, "DELETE", object, {}, {{"If-Match", changed.etag}}).status, 204);
    QCOMPARE(ask(anna, "GET", object).status, 404);
    const TAnswer gone = ask(anna, "REPORT", Calendar, syncQuery(tokenOf(after.body)));
    QVERIFY2(gone.body.contains(object + "</d:href><d:status>HTTP/1.1 404"), gone.body.constData());

    // A repeating event is one object: listed once, found by a week holding
    // an occurrence, changed whole, an occurrence alone (RECURRENCE-ID) and
    // a day deleted (EXDATE) in one PUT, refused while an occurrence is open
    // on a workstation, deleted whole.
    const QByteArray weekly = Calendar + "weekly-1.ics";
    const QByteArray rule = "RRULE:FREQ=WEEKLY;COUNT=4\r\n";
    const TAnswer made = ask(anna, "PUT", weekly, ics("weekly-1", "Standup", rule), {{"If-None-Match", "*"}});
    QCOMPARE(made.status, 201);
    // Its place alone changed: another ETag.
    const TAnswer placed = ask(anna, "PUT", weekly, ics("weekly-1", "Standup", rule + "LOCATION:Hall\r\n"),
                               {{"If-Match", made.etag}});
    QVERIFY(placed.status == 204 && !placed.etag.isEmpty() && placed.etag != made.etag);
    const QByteArray week = ask(anna, "REPORT", Calendar, weekQuery()).body;
    QCOMPARE(week.count("BEGIN:VEVENT"), week.count("END:VEVENT"));
    QCOMPARE(week.count("SUMMARY:Standup"), 1);
    QVERIFY2(week.contains("RRULE:FREQ=WEEKLY;COUNT=4") && week.contains(weekly + "</d:href>")
                 && week.contains("LOCATION:Hall"), week.constData());
    QCOMPARE(ask(anna, "GET", weekly).etag, placed.etag);
    // One whose first day lies past the horizon, nothing made yet: listed too.
    const QByteArray far = ics("far-1", "Far", "RRULE:FREQ=WEEKLY;INTERVAL=99;BYDAY=MO\r\n");
    QCOMPARE(ask(anna, "PUT", Calendar + "far-1.ics", far, {{"If-None-Match", "*"}}).status, 201);
    const QByteArray all = ask(anna, "REPORT", Calendar, syncQuery(QByteArray())).body;
    QVERIFY2(all.contains(Calendar + "far-1.ics</d:href>"), all.constData());
    const QByteArray token2 = tokenOf(all);
    QByteArray both = ics("weekly-1", "Daily standup", rule + "EXDATE:20270316T100000Z\r\n");
    both.insert(both.indexOf("END:VCALENDAR"), "BEGIN:VEVENT\r\nUID:weekly-1\r\nDTSTAMP:20270101T000000Z\r\n"
                                                "RECURRENCE-ID:20270309T100000Z\r\nDTSTART:20270309T110000Z\r\n"
                                                "SUMMARY:Standup moved\r\nEND:VEVENT\r\n");
    const TAnswer rewritten = ask(anna, "PUT", weekly, both, {{"If-Match", placed.etag}});
    QCOMPARE(rewritten.status, 204);
    QVERIFY(rewritten.etag != placed.etag);
    const QByteArray changes = ask(anna, "REPORT", Calendar, syncQuery(token2)).body;
    QCOMPARE(changes.count("<d:response>"), 1);
    QVERIFY2(changes.contains(weekly + "</d:href>"), changes.constData());
    // An occurrence deleted as a plain entry on a workstation is a change of
    // the series, whose object gives its day as an EXDATE as well.
    QStringList standups;
    DayEntryRecord one;
    TLookup::Each(boss_->DayEntries(), one.bytes(), [&](const QString& key) {
        if (one.Description() == QLatin1String("Daily standup"))
            standups << key;
    });
    QCOMPARE(TEventWriter(*boss_).deleteEntryWithAlarms(standups.last()), TEventWriter::Result::Done);
    const QByteArray learnt = ask(anna, "REPORT", Calendar, syncQuery(tokenOf(changes))).body;
    QVERIFY2(learnt.contains(weekly + "</d:href>") && !learnt.contains(standups.last().toLatin1()), learnt.constData());
    const TAnswer again = ask(anna, "GET", weekly);
    QVERIFY2(again.body.contains("SUMMARY:Daily standup") && again.body.contains("SUMMARY:Standup moved")
                 && again.body.contains("RECURRENCE-ID") && again.body.contains("EXDATE:20270316T100000Z")
                 && again.body.contains("EXDATE:20270323T100000Z"),
             again.body.constData());
    // Stored again as it was read: nothing is written.
    const QString lastRecord = latestRecord().key;
    QCOMPARE(ask(anna, "PUT", weekly, again.body, {{"If-Match", again.etag}}).etag, again.etag);
    QCOMPARE(latestRecord().key, lastRecord);
    refusedWhileOpen(standups.first(), weekly, ics("weekly-1", "Gone", rule));
    QCOMPARE(ask(anna, "DELETE", weekly).status, 204);
    QCOMPARE(ask(anna, "GET", weekly).status, 404);
    QVERIFY(!snapshot().contains("standup"));

    // Anna switched off her alarm of an entry Boss keeps his on: a VALARM
    // gives her one of her own again, and Boss's stays as it was.
    const QString sharedKey
        = addEntry(*boss_, keys_[QStringLiteral("ANNA")], "Review", 0, "2027-03-02T10:00:00", keys_[QStringLiteral("BOSS")]);
    TEventWriter events(*boss_);
    AlarmRecord ring;
    const auto alarmsOf = [&] {
        QStringList found;
        AlarmRecord one;
        for (bool more = TLookup::Equal(boss_->Alarms(), one.bytes(), AlarmRecord::DayEntryKeyIndex, sharedKey); more;
             more = TLookup::Next(boss_->Alarms(), one.bytes(), AlarmRecord::DayEntryKeyIndex, sharedKey,
                                  TXIsamFile::ScanPrefix))
            found << (one.UserKey() == keys_[QStringLiteral("ANNA")] ? QStringLiteral("Anna ") : QStringLiteral("Boss "))
                    + one.AlarmTime();
        found.sort();
        return found;
    };
    const qint64 start = QDateTime(QDate(2027, 3, 2), QTime(10, 0), Qt::UTC).toSecsSinceEpoch();
    QVERIFY(TLookup::Equal(boss_->Alarms(), ring.bytes(), AlarmRecord::UserAlarmIndex,
                           keys_[QStringLiteral("ANNA")] + RecordKey::format(start)));
    QCOMPARE(events.switchOffAlarm(boss_->Alarms().CurrentKey(), ring), TEventWriter::Result::Done);
    const QByteArray sharedPath = Calendar + sharedKey.toLatin1() + ".ics";
    const QStringList before = alarmsOf();
    QCOMPARE(ask(anna, "PUT", sharedPath, ics("x", "Review", alarm)).status, 204);
    QVERIFY(ask(anna, "GET", sharedPath).body.contains("TRIGGER:-PT15M"));
    const QStringList now = alarmsOf();
    QCOMPARE(before.size(), 1);
    QCOMPARE(now.size(), 2);
    QVERIFY(now.first().startsWith(QLatin1String("Anna ")) && now.last() == before.first());
    QCOMPARE(latestRecord().action, TChangeTrail::Action::AlarmSnoozed);
}

void TestDav::refusedWhileOpen(const QString& key, const QByteArray& path, const QByteArray& body)
{
    // The entry open in Event properties on a workstation.
    TEventWriter events(*boss_);
    std::optional<TRecordLock> lock;
    DayEntryRecord entry;
    AlarmRecord alarm;
    bool hadAlarm = false;
    QCOMPARE(events.openEntry(key, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
    const QByteArray before = snapshot();
    for (const QByteArray& method : {QByteArray("PUT"), QByteArray("DELETE")}) {
        const TAnswer refused = ask(QStringLiteral("ANNA:ANNAPW"), method, path, method == "PUT" ? body : QByteArray());
        QCOMPARE(refused.status, 423);
        QVERIFY2(refused.body.contains("Big Boss"), refused.body.constData());
    }
    QCOMPARE(snapshot(), before);
}

void TestDav::lockedEntry()
{
    const QByteArray path = Calendar + keys_[QStringLiteral("dentist")].toLatin1() + ".ics";
    refusedWhileOpen(keys_[QStringLiteral("dentist")], path, ics("x", "Moved"));
    QCOMPARE(ask(QStringLiteral("ANNA:ANNAPW"), "PUT", path, ics("x", "Moved")).status, 204);
}

QByteArray TestDav::syncSince(const QByteArray& token)
{
    return ask(Anna, "REPORT", Calendar, syncQuery(token)).body;
}

QByteArray tokenIn(const QByteArray& body)
{
    const QRegularExpression token(QStringLiteral("<d:sync-token>([^<]*)</d:sync-token>"));
    return token.match(QString::fromUtf8(body)).captured(1).toUtf8();
}

void TestDav::hiddenLikeMissing_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("GET") << QByteArray("GET") << QByteArray();
    QTest::newRow("PUT") << QByteArray("PUT") << ics("planted", "Planted");
    QTest::newRow("DELETE") << QByteArray("DELETE") << QByteArray();
    QTest::newRow("PROPFIND") << QByteArray("PROPFIND") << QByteArray();
}

// Boss's private entry and a key nobody has answer Anna alike.
void TestDav::hiddenLikeMissing()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, body);
    const auto answer = [&](const QString& key) {
        const TAnswer got = ask(Anna, method, Calendar + key.toLatin1() + ".ics", body);
        return QByteArray::number(got.status) + ' ' + QByteArray(got.body).replace(key.toLatin1(), "KEY");
    };
    const QByteArray before = snapshot();
    QCOMPARE(answer(keys_[QStringLiteral("secret")]), answer(QStringLiteral("9999999998")));
    QCOMPARE(snapshot(), before);
}

void TestDav::hiddenNotSynced()
{
    // Boss's private entry changed, another made and deleted, his private day
    // of his public series (seriesForColleague) changed: nothing for Anna.
    const QByteArray token = tokenIn(syncSince(QByteArray()));
    const auto retext = [this](const QString& key, const QString& text) {
        DayEntryRecord entry;
        AlarmRecord none;
        return boss_->DayEntries().GetEqual(entry.bytes(), 0, key) && (entry.setDescription(text), true)
            && TEventWriter(*boss_).updateEntryWithAlarms(key, entry, none, QString()) == TEventWriter::Result::Done;
    };
    QVERIFY(retext(keys_[QStringLiteral("secret")], QStringLiteral("Boss secret, moved")));
    DayEntryRecord day;
    TLookup::Each(boss_->DayEntries(), day.bytes(), [&](const QString& key) {
        if (day.Description() == QLatin1String("Boss alone"))
            keys_[QStringLiteral("alone")] = key;
    });
    QVERIFY(retext(keys_[QStringLiteral("alone")], QStringLiteral("Boss alone, moved")));
    const QString other = addEntry(*boss_, keys_[QStringLiteral("BOSS")], "Other", DayEntryRecord::Private, "2027-03-04T09:00:00");
    QCOMPARE(TEventWriter(*boss_).deleteEntryWithAlarms(other), TEventWriter::Result::Done);
    const QByteArray synced = syncSince(token);
    QVERIFY2(!synced.contains("<d:response>"), synced.constData());
    QCOMPARE(ask(QStringLiteral("BOSS:BOSSPW"), "DELETE", "/dav/calendars/BOSS/default/daily.ics").status, 204);
}

void TestDav::seriesForColleague_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<QByteArray>("hidden");
    QByteArray expand = weekQuery();
    expand.replace("<c:calendar-data/>", "<c:calendar-data><c:expand start=\"20270301T000000Z\" "
                                         "end=\"20270308T000000Z\"/></c:calendar-data>");
    const QByteArray all = "<d:sync-collection xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                           "<d:sync-token/><d:prop><c:calendar-data/></d:prop></d:sync-collection>";
    const QByteArray days = "RECURRENCE-ID:20270302T100000Z|RECURRENCE-ID:20270304T100000Z";
    QTest::newRow("week") << Anna << weekQuery() << QByteArray("SUMMARY:Daily review") << QByteArray("Boss alone");
    QTest::newRow("sync") << Anna << all << QByteArray("SUMMARY:Daily review") << QByteArray("Boss alone");
    // Boss's private day: left out, on a folder as on a server (which cannot read it).
    QTest::newRow("expanded") << Anna << expand << days
                              << QByteArray("RRULE|TZID|Boss alone|RECURRENCE-ID:20270303T100000Z");
    QTest::newRow("expanded for the owner") << QStringLiteral("BOSS:BOSSPW") << expand
                                            << days + "|RECURRENCE-ID:20270303T100000Z|SUMMARY:Boss alone"
                                            << QByteArray("RRULE");
}

// Boss's daily series, its second day private to him: Anna sees the series
// without it, also as instances in UTC.
void TestDav::seriesForColleague()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, hidden);
    static bool made = false;
    if (!made) {
        QByteArray daily = ics("daily-review", "Daily review", "RRULE:FREQ=DAILY;COUNT=3\r\n");
        daily.insert(daily.indexOf("END:VCALENDAR"), "BEGIN:VEVENT\r\nUID:daily-review\r\nDTSTAMP:20270101T000000Z\r\n"
                                                     "RECURRENCE-ID:20270303T100000Z\r\nDTSTART:20270303T120000Z\r\n"
                                                     "SUMMARY:Boss alone\r\nCLASS:PRIVATE\r\nEND:VEVENT\r\n");
        QCOMPARE(ask(QStringLiteral("BOSS:BOSSPW"), "PUT", "/dav/calendars/BOSS/default/daily.ics", daily).status, 201);
        made = true;
    }
    const TAnswer got = ask(user, "REPORT", "/dav/calendars/" + user.section(QLatin1Char(':'), 0, 0).toLatin1() + "/default/", body);
    for (const QByteArray& text : shown.split('|'))
        QVERIFY2(got.body.contains(text), got.body.constData());
    for (const QByteArray& text : hidden.split('|'))
        QVERIFY2(!got.body.contains(text), got.body.constData());
}

// Dora, who may change Boss's entries, writes his series back as she read
// it, his private day left out by an EXDATE: that day stays his.
void TestDav::privateDayWrittenBack()
{
    const QString dora = QStringLiteral("DORA:DORAPW");
    static const QRegularExpression series(QStringLiteral("/dav/calendars/DORA/default/series-\\d+\\.ics"));
    const QByteArray path = series.match(QString::fromLatin1(ask(dora, "REPORT", "/dav/calendars/DORA/default/",
                                                                  syncQuery({})).body))
                                .captured()
                                .toLatin1();
    const TAnswer read = ask(dora, "GET", path);
    QVERIFY2(read.body.contains("EXDATE:20270303T100000Z") && !read.body.contains("Boss alone"), read.body.constData());
    QCOMPARE(ask(dora, "PUT", path, read.body, {{"If-Match", read.etag}}).status, 204);
    QVERIFY(ask(QStringLiteral("BOSS:BOSSPW"), "GET", "/dav/calendars/BOSS/default/daily.ics").body.contains("Boss alone"));
}

void TestDav::officeChanges_data()
{
    QTest::addColumn<bool>("zone");
    QTest::newRow("category renamed") << false;
    QTest::newRow("office zone changed") << true;
}

// What changes every object a client holds reaches it through its sync.
void TestDav::officeChanges()
{
    QFETCH(bool, zone);
    static QString category;
    CategoryRecord record;
    if (category.isEmpty()) {
        category = TCategoryWriter(*boss_).addCategory(QStringLiteral("Dentistry"), record);
        DayEntryRecord entry;
        AlarmRecord none;
        QVERIFY(boss_->DayEntries().GetEqual(entry.bytes(), 0, keys_[QStringLiteral("dentist")]));
        entry.setCategoryKey(category);
        QCOMPARE(TEventWriter(*boss_).updateEntryWithAlarms(keys_[QStringLiteral("dentist")], entry, none, QString()),
                 TEventWriter::Result::Done);
    }
    const QByteArray path = Calendar + keys_[QStringLiteral("dentist")].toLatin1() + ".ics";
    const QByteArray etag = ask(Anna, "GET", path).etag;
    const QByteArray token = tokenIn(syncSince(QByteArray()));
    const QByteArray office = boss_->OfficeZone();
    if (zone) {
        boss_->SetOfficeZone("Europe/Berlin");
        startService(); // a session reads the zone again after minutes
    } else {
        QVERIFY(TCategoryWriter(*boss_).renameCategory(category, QStringLiteral("Teeth"), record));
    }
    const QByteArray synced = syncSince(token);
    const QByteArray now = ask(Anna, "GET", path).etag;
    boss_->SetOfficeZone(office);
    startService();
    QVERIFY2(synced.contains(path + "</d:href>") && tokenIn(synced) != token, synced.constData());
    QVERIFY(now != etag);
}

void TestDav::plainHttpFromAfar()
{
    // The password would have crossed the network in clear: refused before
    // it is looked at, whether right or wrong.
    TDavRequest request;
    request.method = "PROPFIND";
    request.path = QStringLiteral("/dav/");
    request.headers.insert("authorization", "Basic " + QByteArray("ANNA:ANNAPW").toBase64());
    QCOMPARE(service_->Answer(request).status, 403);
    request.encrypted = true;
    QCOMPARE(service_->Answer(request).status, 207);
}

void TestDav::logInBrake_data()
{
    // One session's steps in order: the clock moved on, wrong passwords
    // given, then a log-in. (The clock stays scripted until the services go.)
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("status");
    const int delay = int(TDavBrake::FirstDelaySeconds);
    const QString anna = QStringLiteral("ANNA:ANNAPW");
    QTest::newRow("under the limit") << 0 << TDavBrake::FreeFailures - 1 << anna << 207;
    QTest::newRow("over the limit refused even with the right password") << 0 << TDavBrake::FreeFailures << anna << 429;
    QTest::newRow("another user unaffected") << 0 << 0 << QStringLiteral("CARL:CARLPW") << 207;
    QTest::newRow("a failure after the delay brakes again") << delay << 1 << anna << 429;
    QTest::newRow("for twice as long") << delay << 0 << anna << 429;
    QTest::newRow("after the delay accepted") << delay << 0 << anna << 207;
}

void TestDav::logInBrake()
{
    QFETCH(int, wait);
    QFETCH(int, failures);
    QFETCH(QString, user);
    QFETCH(int, status);
    static QDateTime clock = QDateTime::currentDateTime();
    services_->setNow(clock = clock.addSecs(wait));
    for (int i = 0; i < failures; ++i)
        QCOMPARE(ask(QStringLiteral("ANNA:NOPE"), "PROPFIND", "/dav/", PropfindHome).status, 401);
    QCOMPARE(ask(user, "PROPFIND", "/dav/", PropfindHome).status, status);
}

void TestDav::logInBrakeWide_data()
{
    // Each row its own names and addresses: its guesses
    // ("NAME:PASSWORD@ADDRESS"), then the attempt.
    QTest::addColumn<QStringList>("guesses");
    QTest::addColumn<QString>("attempt");
    QTest::addColumn<int>("status");
    const auto spread = [](const QString& pattern, int count) {
        QStringList all;
        for (int i = 1; i <= count; ++i)
            all << pattern.arg(i);
        return all;
    };
    const int wide = TDavBrake::WideFreeFailures;
    QTest::newRow("one name from rotating addresses") << spread(QStringLiteral("CARL:NOPE@10.1.0.%1"), wide)
                                                      << QStringLiteral("CARL:CARLPW@10.1.1.1") << 429;
    QTest::newRow("its own device let through")
        << QStringList{QStringLiteral("GROSS:GROSSPW@10.2.0.1")} + spread(QStringLiteral("GROSS:NOPE@10.2.1.%1"), wide)
        << QStringLiteral("GROSS:GROSSPW@10.2.0.1") << 207;
    QTest::newRow("many names from one address") << spread(QStringLiteral("NAME%1:NOPE@10.3.0.1"), wide)
                                                 << QStringLiteral("ANNA:ANNAPW@10.3.0.1") << 429;
}

void TestDav::logInBrakeWide()
{
    QFETCH(QStringList, guesses);
    QFETCH(QString, attempt);
    QFETCH(int, status);
    services_->setNow(TClock::now().addDays(1)); // past every delay of the rows before
    const auto logIn = [this](const QString& guess) {
        const QByteArray user = guess.section(QLatin1Char('@'), 0, 0).toUtf8();
        return service_->Answer({"PROPFIND", QStringLiteral("/dav/"), {{"authorization", "Basic " + user.toBase64()}},
                                 {}, guess.section(QLatin1Char('@'), 1), false, true}).status;
    };
    for (const QString& guess : std::as_const(guesses))
        QVERIFY(logIn(guess) != 429);
    QCOMPARE(logIn(attempt), status);
}

void TestDav::slowRequest()
{
    // Anna's PUT of an entry written elsewhere and not yet committed waits on
    // the database; seven week queries at once are answered meanwhile, and
    // the PUT once the write is done.
    const QString dentist = keys_[QStringLiteral("dentist")];
    const quint16 port = listener_->serverPort();
    std::vector<std::unique_ptr<TRawRequest>> clients;
    {
        THeldWrite held(*boss_, dentist);
        clients.push_back(std::make_unique<TRawRequest>(port, "PUT", Calendar + dentist.toLatin1() + ".ics",
                                                        "ANNA:ANNAPW", ics("x", "Moved while held")));
        for (int i = 0; i < 7; ++i)
            clients.push_back(std::make_unique<TRawRequest>(port, "REPORT", Calendar, "ANNA:ANNAPW", weekQuery()));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin() + 1, clients.end(),
                                             [](const auto& client) { return client->status() == 207; }),
                                 30000);
        QCOMPARE(clients.front()->status(), 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(clients.front()->status() != 0, 30000);
}

void TestDav::idleFlood()
{
    // 2,000 idle connections from 127.0.0.1 within a descriptor budget the
    // service could not spend on them all; a client from 127.0.0.2 is
    // answered meanwhile.
    constexpr int Flood = 2000;
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit budget{rlim_t(QDir(QStringLiteral("/proc/self/fd")).count() + Flood + 300), saved.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &budget), 0);
    const sockaddr_in to{AF_INET, htons(listener_->serverPort()), {htonl(INADDR_LOOPBACK)}, {}};
    std::vector<int> flood;
    for (int i = 0; i < Flood; ++i) {
        flood.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(flood.back(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (i % 40 == 39)
            QTest::qWait(5);
    }
    const QByteArray dentist = Calendar + keys_[QStringLiteral("dentist")].toLatin1() + ".ics";
    TRawRequest other(listener_->serverPort(), "GET", dentist, "ANNA:ANNAPW", {}, QHostAddress(QStringLiteral("127.0.0.2")));
    QTRY_COMPARE_WITH_TIMEOUT(other.status(), 200, 30000);
    for (const int socket : flood)
        ::close(socket);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
}

// The server's reap of the sessions past their bounds, which the service
// asks for at a request, is awaited by none: held up on the server (its
// table locked), the request is answered meanwhile.
void TestDav::reapAwaitedByNone()
{
    if (!cluster_)
        QSKIP("a server's reap");
    const std::unique_ptr<PGconn, decltype(&PQfinish)> holder(
        PQconnectdb(cluster_->uri(QStringLiteral("dav")).toUtf8().constData()), &PQfinish);
    PQclear(PQexec(holder.get(), "BEGIN; UPDATE quorla_reaped SET at = '-infinity'; LOCK TABLE quorla_reaped"));
    TRawRequest first(listener_->serverPort(), "REPORT", "/dav/calendars/DORA/default/", "DORA:DORAPW", weekQuery());
    QTRY_COMPARE(first.status(), 207);
    QTRY_COMPARE(cluster_->query(QStringLiteral("dav"), "SELECT count(*) FROM pg_stat_activity WHERE usename = '"
                                     + TServerRoles::RoleName(QStringLiteral("DORA")).toUtf8() + "' AND wait_event_type = 'Lock'"),
                 QStringLiteral("1"));
    PQclear(PQexec(holder.get(), "ROLLBACK"));
}

QUORLA_TEST_CORE_MAIN(TestDav)
void TestDav::objectText_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QStringList>("texts"); // the text, the place (and notes), the UID, the alarm's time
    const QString text = QStringLiteral("Budget review");
    const QString alarm = RecordKey::format(1646640000);
    QTest::newRow("timed, plain") << 0 << QStringList{text, QString(), "k1@quorla", QString()};
    QTest::newRow("escaped, alarm") << 0 << QStringList{text, "Room 2.14, floor; east \\ wing", "k,2;x", alarm};
    QTest::newRow("all day, private") << int(DayEntryRecord::UnTimed | DayEntryRecord::Private)
                                      << QStringList{text, QString(), "k3", QString()};
    // Lines of 72 bytes and of 73, the first libical folds.
    for (const int line : {72, 73})
        QTest::addRow("line of %d", line) << 0
                                          << QStringList{QString(line - 8, QLatin1Char('a')),
                                                         QString(line - 11, QLatin1Char('b')) + QLatin1Char(','),
                                                         QString(line - 4, QLatin1Char('u')), QString()};
    QTest::newRow("beyond ASCII") << 0 << QStringList{"Gro\u00dfe Runde\nzwei", "Saal \u00c4\tb", "k4", QString()};
    QTest::newRow("XML's own characters") << 0 << QStringList{"R&D <review>", "A>B&C<D", "k5", QString()};
}

// An object's text is libical's own writing of it, whichever lines are
// written without libical, for each length one writer writes in turn.
void TestDav::objectText()
{
    QFETCH(int, flags);
    QFETCH(QStringList, texts);
    DayEntryRecord entry;
    entry.initialise();
    entry.setFlags(flags);
    entry.setStartTime(RecordKey::format(1646643600));
    entry.setDescription(texts[0]);
    TDavObject writer;
    for (const int seconds : {5400, 1800, 5400}) {
        const TEntryDetails details{.durationSeconds = seconds, .days = 3, .location = texts[1], .notes = texts[1]};
        const QByteArray written = writer.Text(entry, details, texts[2], QStringLiteral("Sales"), texts[3],
                                               [](qint64 wall) { return wall - 3600; });
        icalcomponent* read = icalparser_parse_string(written.constData());
        QVERIFY(read);
        char* again = icalcomponent_as_ical_string_r(read);
        const QByteArray libical(again);
        icalmemory_free_buffer(again);
        const icaldurationtype lasts
            = icalcomponent_get_duration(icalcomponent_get_first_component(read, ICAL_VEVENT_COMPONENT));
        icalcomponent_free(read);
        QCOMPARE(written, libical);
        if (!(flags & DayEntryRecord::UnTimed))
            QCOMPARE(icaldurationtype_as_int(lasts), seconds);
        // As a listing serves it: character data that an XML reader reads
        // back as the text, its line ends and all.
        QByteArray served = "<c>";
        TDavXml::AppendBytes(served, written);
        QXmlStreamReader xml(served + "</c>");
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.readElementText().toUtf8(), written);
    }
}

#include "tst_dav.moc"
