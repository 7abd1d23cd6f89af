#include "DavBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "DetailsBench.h"
#include "PostgresCluster.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace Calendar;

// Everybody's password; digits read the same in capitals.
const QString Password = QStringLiteral("1234");

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool waitForPort(int port, QProcess& process)
{
    for (int i = 0; i < 600; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(100))
            return true;
        if (process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(100);
    }
    return false;
}

bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(30 * 60 * 1000) || tool.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), tool.readAll().constData());
        return false;
    }
    return true;
}

// A service on loopback and the calendar of user U1 in it, spoken to over one
// kept-alive connection.
struct Peer
{
    explicit Peer(const char* name)
        : name(name)
    {
    }
    const char* name;
    std::unique_ptr<QProcess> process;
    QUrl calendar;
    QNetworkAccessManager http;
    QByteArray token; // the sync-token of the last sync-collection

    QByteArray request(const QByteArray& verb, const QUrl& url, const QByteArray& body, int* status = nullptr,
                       const QByteArray& depth = "1")
    {
        QNetworkRequest r(url);
        r.setRawHeader("Authorization", "Basic " + QByteArray("U1:" + Password.toUtf8()).toBase64());
        r.setRawHeader("Depth", depth);
        r.setHeader(QNetworkRequest::ContentTypeHeader,
                    verb == "PUT" ? "text/calendar; charset=utf-8" : "application/xml; charset=utf-8");
        // Radicale's first query at 100,000 events reads and caches every item.
        r.setTransferTimeout(3 * 60 * 60 * 1000);
        QNetworkReply* reply = http.sendCustomRequest(r, verb, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (status)
            *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray answer = reply->readAll();
        reply->deleteLater();
        return answer;
    }

    // The week from `monday`: the number of events answered.
    int weekQuery(const QDate& monday)
    {
        const QByteArray from = monday.toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T000000Z";
        const QByteArray to = monday.addDays(7).toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T000000Z";
        int status = 0;
        const QByteArray answer = request(
            "REPORT", calendar,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<C:calendar-query xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
            "<D:prop><D:getetag/><C:calendar-data/></D:prop>"
            "<C:filter><C:comp-filter name=\"VCALENDAR\"><C:comp-filter name=\"VEVENT\">"
            "<C:time-range start=\"" + from + "\" end=\"" + to + "\"/>"
            "</C:comp-filter></C:comp-filter></C:filter></C:calendar-query>",
            &status);
        if (status != 207)
            return refused("week query", status, answer);
        return int(answer.count("BEGIN:VEVENT"));
    }

    // A sync-collection from the last token: the number of changes answered.
    int sync()
    {
        int status = 0;
        const QByteArray answer = request(
            "REPORT", calendar,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<D:sync-collection xmlns:D=\"DAV:\"><D:sync-token>" + token + "</D:sync-token>"
            "<D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>",
            &status);
        static const QRegularExpression tokenTag(QStringLiteral("<(?:\\w+:)?sync-token>([^<]*)</"));
        const auto match = tokenTag.match(QString::fromUtf8(answer));
        if (status != 207 || !match.hasMatch())
            return refused("sync-collection", status, answer);
        token = match.captured(1).toUtf8();
        return int(answer.count("<D:response>") + answer.count("<response>") + answer.count("<d:response>"));
    }

    void putEvent(int n)
    {
        const QByteArray uid = "bench-change-" + QByteArray::number(n);
        int status = 0;
        request("PUT", QUrl(calendar.toString() + QString::fromLatin1(uid) + QStringLiteral(".ics")),
                "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quorla bench//EN\r\nBEGIN:VEVENT\r\nUID:" + uid
                    + "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20220309T100000Z\r\nDURATION:PT1H\r\n"
                      "SUMMARY:Changed on a phone\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
                &status, "0");
        if (status != 201 && status != 204 && status != 200)
            refused("PUT of one change", status, {});
    }

    // A refusal is told, and the figures go on without it (an exit would
    // leave the services running).
    int refused(const char* what, int status, const QByteArray& answer)
    {
        std::printf("  NOTE: %s: %s answered %d %s\n", name, what, status, answer.left(300).constData());
        return -1;
    }

    ~Peer()
    {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(10000))
                process->kill();
        }
    }
};

// The folder database: the engine benchmarks' calendar with details on every
// entry, and its 30 users U1...U30 (keys 1 to 30, the owners and assignees of
// the entries).
void makeFolder(const QString& folder, int entries)
{
    loadCalendar(folder + DayEntryRecord::FileName, folder + AlarmRecord::FileName, entries);
    addBenchDetails(folder);
    bulkLoad<UserRecord>(folder + UserRecord::FileName, Users, [](int i, UserRecord& u) {
        u.setUserName(QStringLiteral("U%1").arg(i + 1));
        u.setFullName(QStringLiteral("User %1").arg(i + 1));
        u.setAbbreviation(QStringLiteral("U%1").arg(i + 1));
        u.setPassword(Password);
        u.setRights(UserRecord::CanAddEntries);
    });
    TXIsamFile maker;
    check(maker.CreateDataset(folder + CategoryRecord::FileName, 10, CategoryRecord::Format), "categories");
    // The rest as a workstation's first connection makes it: the change
    // trail the sync reads among them.
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    { TQuorlaDB made{BenchServices::running(), TDatabaseLocation(folder)}; }
    BenchServices::install(previous);
}

// Radicale's file storage holding U1's calendar: one item per event of the
// export, each a calendar of its own with the export's zones.
void fillRadicale(const QString& storage, const QString& exportFile)
{
    QFile in(exportFile);
    check(in.open(QIODevice::ReadOnly), "read the export");
    const QByteArray text = in.readAll();
    const qsizetype first = text.indexOf("BEGIN:VEVENT");
    check(first > 0, "events in the export");
    const QByteArray head = text.left(first);
    const QString collection = storage + QStringLiteral("/collection-root/U1/default/");
    check(QDir().mkpath(collection), "Radicale's collection");
    QFile props(collection + QStringLiteral(".Radicale.props"));
    check(props.open(QIODevice::WriteOnly)
              && props.write("{\"C:supported-calendar-component-set\": \"VEVENT\", \"tag\": \"VCALENDAR\"}") > 0,
          "Radicale's collection properties");
    static const QRegularExpression uidLine(QStringLiteral("\r?\nUID:([^\r\n]*)"));
    for (qsizetype at = first; (at = text.indexOf("BEGIN:VEVENT", at)) >= 0;) {
        const qsizetype end = text.indexOf("END:VEVENT", at) + qsizetype(sizeof("END:VEVENT\r\n") - 1);
        const QByteArray event = text.mid(at, end - at);
        const QString uid = uidLine.match(QString::fromUtf8(event)).captured(1);
        QFile item(collection + QString(uid).replace(QLatin1Char('/'), QLatin1Char('_')) + QStringLiteral(".ics"));
        check(item.open(QIODevice::WriteOnly) && item.write(head + event + "END:VCALENDAR\r\n") > 0, "Radicale item");
        at = end;
    }
}

// Radicale's storage is kept between runs, outside the build: its first
// query reads every item and writes its cache (over twenty minutes at
// 100,000 events), which a run would otherwise wait for each time. It is
// made again when the seeded entries differ from those it was filled with
// (their dataset's hash is kept beside it) or when it was never finished.
QString keptStorage(int entries)
{
    QString base = qEnvironmentVariable("QUORLA_BENCH_DAV_KEEP");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/quorla-bench");
    return base + QStringLiteral("/dav-%1").arg(entries);
}

QByteArray seedMark(const QString& folder)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QLatin1StringView name : {DayEntryRecord::FileName, DetailRecord::FileName}) {
        QFile seeded(folder + name);
        check(seeded.open(QIODevice::ReadOnly), "read the seeded entries");
        hash.addData(&seeded);
    }
    return hash.result().toHex();
}

// Radicale's storage at `kept` as the seeded events alone: filled anew when
// the mark differs; else the events a previous run added are taken out
// (with their cache) and the sync states of earlier runs dropped.
void prepareRadicale(const QString& kept, const QString& folder, const QString& scratch, int entries)
{
    const QByteArray mark = seedMark(folder);
    QFile markFile(kept + QStringLiteral("/seed"));
    const QString collections = kept + QStringLiteral("/collections");
    if (markFile.open(QIODevice::ReadOnly) && markFile.readAll() == mark) {
        markFile.close();
        QDirIterator added(collections, {QStringLiteral("bench-change-*")}, QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        while (added.hasNext())
            QFile::remove(added.next());
        QDirIterator states(collections, {QStringLiteral("sync-token")}, QDir::Dirs | QDir::Hidden,
                            QDirIterator::Subdirectories);
        while (states.hasNext())
            QDir(states.next()).removeRecursively();
        std::printf("%d entries: Radicale's storage kept in %s\n", entries, qPrintable(kept));
        return;
    }
    markFile.close();
    QDir(kept).removeRecursively();
    check(QDir().mkpath(kept), "Radicale's kept storage");
    QElapsedTimer t;
    t.start();
    const QString exportFile = scratch + QStringLiteral("/u1.ics");
    check(runTool(QStringLiteral(QUORLA_EXPORT),
                  {QStringLiteral("--database"), folder, QStringLiteral("--user"), QStringLiteral("U1"),
                   QStringLiteral("--from"), QStringLiteral("2020-01-01"), QStringLiteral("--to"),
                   QStringLiteral("2024-12-31"), QStringLiteral("--zone"), QStringLiteral("UTC"), QStringLiteral("--out"),
                   exportFile}),
          "export");
    fillRadicale(collections, exportFile);
    check(markFile.open(QIODevice::WriteOnly) && markFile.write(mark) == mark.size(), "Radicale's seed mark");
    std::printf("%d entries: exported and written into Radicale's storage (%s) in %.1f s\n", entries,
                qPrintable(kept), double(t.elapsed()) / 1000);
}

#ifdef QUORLA_DAV
std::unique_ptr<QProcess> startQuorlaDav(int port, const QString& place, const QStringList& more = {})
{
    auto p = std::make_unique<QProcess>();
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(QStringLiteral(QUORLA_DAV),
             QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--database"),
                         place} + more);
    return p;
}
#endif

std::unique_ptr<QProcess> startRadicale(int port, const QString& storage)
{
    QFile users(storage + QStringLiteral("/users"));
    QFile config(storage + QStringLiteral("/config"));
    check(users.open(QIODevice::WriteOnly) && users.write("U1:" + Password.toUtf8() + "\n") > 0, "Radicale's users");
    check(config.open(QIODevice::WriteOnly)
              && config.write(QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n"
                                             "[auth]\ntype = htpasswd\nhtpasswd_filename = %2/users\n"
                                             "htpasswd_encryption = plain\n"
                                             "[rights]\ntype = owner_only\n"
                                             "[storage]\nfilesystem_folder = %2/collections\n"
                                             "[logging]\nlevel = warning\n")
                                  .arg(port)
                                  .arg(storage)
                                  .toUtf8())
                     > 0,
          "Radicale's configuration");
    config.close();
    auto p = std::make_unique<QProcess>();
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(storage + QStringLiteral("/radicale.log"));
    p->start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("radicale"), QStringLiteral("--config"),
                                                  storage + QStringLiteral("/config")});
    return p;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Each peer's week queries, a round each (the same week for all of them in
// a round), in ms; a peer answering another count than the first is noted.
std::vector<std::vector<double>> weekRounds(const std::vector<Peer*>& peers, int rounds)
{
    std::vector<std::vector<double>> week(peers.size());
    std::vector<int> events(peers.size());
    for (int round = 0; round < rounds; ++round) {
        const QDate monday = QDate(2020, 3, 2).addDays(7 * (round * 37 % 250));
        for (size_t i = 0; i < peers.size(); ++i) {
            QElapsedTimer t;
            t.start();
            const int n = peers[i]->weekQuery(monday);
            week[i].push_back(double(t.nsecsElapsed()) / 1e6);
            if (i > 0 && n != events[0])
                std::printf("  NOTE: %s answers %d events for the week of %s, %s %d\n", peers[i]->name, n,
                            qPrintable(monday.toString(Qt::ISODate)), peers[0]->name, events[0]);
            events[i] = n;
        }
    }
    return week;
}

// Each peer's sync-collection after one event PUT, a round each, in ms,
// from a token taken over the whole collection first.
std::vector<std::vector<double>> syncRounds(const std::vector<Peer*>& peers, int entries, int rounds)
{
    std::vector<std::vector<double>> sync(peers.size());
    for (Peer* peer : peers) {
        peer->token.clear();
        peer->sync();
    }
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < peers.size(); ++i) {
            peers[i]->putEvent(entries + round);
            QElapsedTimer t;
            t.start();
            const int changes = peers[i]->sync();
            sync[i].push_back(double(t.nsecsElapsed()) / 1e6);
            if (changes != 1)
                std::printf("  NOTE: %s answers %d changes after one\n", peers[i]->name, changes);
        }
    }
    return sync;
}

void printLoad(const char* when)
{
    // The machine may be shared: its load goes with the figures.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("  load average %s: %s", when, load.readLine().constData());
}

void measure(std::vector<Peer*> peers, int entries, int rounds)
{
    printLoad("before");
    // The first query of each warms it up (Radicale builds its item cache).
    for (Peer* peer : peers) {
        QElapsedTimer t;
        t.start();
        peer->weekQuery(QDate(2022, 3, 7));
        std::printf("  %-24s first week query (warm-up) %10.1f ms\n", peer->name, double(t.nsecsElapsed()) / 1e6);
        std::fflush(stdout);
    }
    const std::vector<std::vector<double>> week = weekRounds(peers, rounds);
    // The week's figures before the syncs, which take Radicale minutes at
    // 100,000 events.
    std::printf("  %-24s %18s\n", "median of rounds", "one-week query");
    for (size_t i = 0; i < peers.size(); ++i) {
        std::printf("  %-24s %15.2f ms", peers[i]->name, median(week[i]));
        if (i + 1 < peers.size())
            std::printf("   Radicale/this %7.1fx", median(week.back()) / median(week[i]));
        std::printf("\n");
    }
    std::fflush(stdout);
    const std::vector<std::vector<double>> sync = syncRounds(peers, entries, rounds);
    printLoad("after");
    const double radicaleWeek = median(week.back()), radicaleSync = median(sync.back());
    std::printf("  %-24s %18s %22s\n", "median of rounds", "one-week query", "sync after one change");
    for (size_t i = 0; i < peers.size(); ++i) {
        std::printf("  %-24s %15.2f ms %19.2f ms", peers[i]->name, median(week[i]), median(sync[i]));
        if (i + 1 < peers.size())
            std::printf("   Radicale/this: week %7.1fx, sync %7.1fx", radicaleWeek / median(week[i]),
                        radicaleSync / median(sync[i]));
        std::printf("\n");
    }
    std::fflush(stdout);
}

void sideBySide(int entries, int rounds)
{
    QTemporaryDir dir;
    check(dir.isValid(), "temporary folder");
    const QString folder = dir.path() + QStringLiteral("/office/");
    check(QDir().mkpath(folder), "database folder");
    makeFolder(folder, entries);
    // The server's road alone, or the folder's, without waiting for the
    // others.
    const bool serverAlone = qEnvironmentVariableIntValue("QUORLA_BENCH_DAV_SERVER") != 0;
    const bool folderAlone = qEnvironmentVariableIntValue("QUORLA_BENCH_DAV_FOLDER") != 0;
    const QString kept = keptStorage(entries);
    if (!serverAlone && !folderAlone)
        prepareRadicale(kept, folder, dir.path(), entries);
    std::fflush(stdout);

    Peer onFolder("quorla_dav on a folder"), onServer("quorla_dav on the server"), radicale("Radicale 3.1.8");
    const auto start = [](Peer& peer, std::unique_ptr<QProcess> process, int port, const QString& path) {
        peer.process = std::move(process);
        check(waitForPort(port, *peer.process), peer.name);
        peer.calendar = QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    };
    std::vector<Peer*> peers;
#ifdef QUORLA_DAV
    if (folderAlone) {
        const int port = freePort();
        start(onFolder, startQuorlaDav(port, folder), port, QStringLiteral("/dav/calendars/U1/default/"));
        measure({&onFolder}, entries, rounds);
        return;
    }
    PostgresCluster server;
    check(server.error().isEmpty(), "private server");
    const QString serverDb = server.createDatabase(QStringLiteral("office"));
    check(!serverDb.isEmpty() && runTool(QStringLiteral(QUORLA_MIGRATE), {folder, serverDb}), "copy to the server");
    int port = freePort();
    if (!serverAlone) {
        start(onFolder, startQuorlaDav(port, folder), port, QStringLiteral("/dav/calendars/U1/default/"));
        peers.push_back(&onFolder);
    }
    port = freePort();
    start(onServer, startQuorlaDav(port, server.personalUri(QStringLiteral("office"))), port,
          QStringLiteral("/dav/calendars/U1/default/"));
    peers.push_back(&onServer);
    if (serverAlone) {
        measure(peers, entries, rounds);
        return;
    }
#else
    std::printf("  quorla_dav is not built: Radicale alone\n");
#endif
    const int radicalePort = freePort();
    start(radicale, startRadicale(radicalePort, kept), radicalePort,
          QStringLiteral("/U1/default/"));
    peers.push_back(&radicale);
    measure(peers, entries, rounds);
}

// One client of the load: its own kept-alive connection, one week query
// after another (a different week each time) until `left` are answered.
struct LoadClient
{
    LoadClient(int port, const QByteArray& path, int queries, int first)
        : left(queries), path(path), next(first)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received(); });
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        ask();
    }

    void ask()
    {
        const QDate monday = QDate(2020, 3, 2).addDays(7 * (next++ * 37 % 250));
        const QByteArray from = monday.toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T000000Z";
        const QByteArray to = monday.addDays(7).toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T000000Z";
        const QByteArray body = "<?xml version=\"1.0\"?><C:calendar-query xmlns:D=\"DAV:\" "
                                "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:prop><D:getetag/><C:calendar-data/>"
                                "</D:prop><C:filter><C:comp-filter name=\"VCALENDAR\"><C:comp-filter name=\"VEVENT\">"
                                "<C:time-range start=\"" + from + "\" end=\"" + to + "\"/></C:comp-filter>"
                                "</C:comp-filter></C:filter></C:calendar-query>";
        socket.write("REPORT " + path + " HTTP/1.1\r\nHost: localhost\r\nDepth: 1\r\nAuthorization: Basic "
                     + QByteArray("U1:" + Password.toUtf8()).toBase64()
                     + "\r\nContent-Type: application/xml\r\nContent-Length: " + QByteArray::number(body.size())
                     + "\r\n\r\n" + body);
    }

    void received()
    {
        buffer += socket.readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        const auto match = length.match(QString::fromLatin1(buffer.left(end)));
        if (end < 0 || !match.hasMatch() || buffer.size() < end + 4 + match.captured(1).toLongLong())
            return;
        if (!buffer.startsWith("HTTP/1.1 207"))
            ++failed;
        buffer.remove(0, end + 4 + match.captured(1).toLongLong());
        if (--left > 0)
            ask();
    }

    int left;
    int failed = 0;
    QByteArray path;
    int next;
    QTcpSocket socket;
    QByteArray buffer;
};

// Week queries per second from `clients` at once, each asking `queries`.
double weeksPerSecond(int port, const QByteArray& path, int clients, int queries)
{
    std::vector<std::unique_ptr<LoadClient>> load;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < clients; ++i)
        load.push_back(std::make_unique<LoadClient>(port, path, queries, i * queries));
    const auto busy = [&load] {
        return std::any_of(load.begin(), load.end(), [](const auto& one) { return one->left > 0; });
    };
    while (busy() && t.elapsed() < 10 * 60 * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    for (const auto& one : load) {
        if (one->failed > 0 || one->left > 0)
            std::printf("  NOTE: a client had %d queries refused, %d unanswered\n", one->failed, one->left);
    }
    return clients * queries / seconds;
}

#ifdef QUORLA_DAV
// Queries per second from `clients` at once to a quorla_dav of `workers`.
double loadOn(const char* name, const QString& place, int workers, int clients, int queries)
{
    const int port = freePort();
    Peer peer(name);
    peer.process = startQuorlaDav(port, place, {QStringLiteral("--workers"), QString::number(workers)});
    check(waitForPort(port, *peer.process), name);
    const QByteArray path = "/dav/calendars/U1/default/";
    weeksPerSecond(port, path, 8, 2); // every worker's connection opened and warm
    return weeksPerSecond(port, path, clients, queries);
}

void loadOn(const char* name, const QString& place, int queries)
{
    const double one = loadOn(name, place, 8, 1, queries);
    const double eight = loadOn(name, place, 8, 8, queries);
    const double alone = loadOn(name, place, 1, 8, queries);
    std::printf("  %-26s 1 client %7.1f/s   8 clients %7.1f/s (%4.2fx)   8 clients on 1 worker %7.1f/s\n", name,
                one, eight, eight / one, alone);
    std::fflush(stdout);
}
#endif

} // namespace

void runDavLoadBench()
{
    std::printf("quorla_dav under load: one-week queries per second from one client and from 8 at once\n"
                "(loopback, 10,000 entries, U1's calendar, %d cores)\n",
                QThread::idealThreadCount());
    printLoad("before");
#ifdef QUORLA_DAV
    const int asked = qEnvironmentVariableIntValue("QUORLA_BENCH_DAV_QUERIES");
    const int queries = asked > 0 ? asked : 40;
    QTemporaryDir dir;
    check(dir.isValid(), "temporary folder");
    const QString folder = dir.path() + QStringLiteral("/office/");
    check(QDir().mkpath(folder), "database folder");
    makeFolder(folder, 10000);
    loadOn("quorla_dav on a folder", folder, queries);
    PostgresCluster server;
    check(server.error().isEmpty(), "private server");
    const QString serverDb = server.createDatabase(QStringLiteral("office"));
    check(!serverDb.isEmpty() && runTool(QStringLiteral(QUORLA_MIGRATE), {folder, serverDb}), "copy to the server");
    loadOn("quorla_dav on the server", server.personalUri(QStringLiteral("office")), queries);
#else
    std::printf("  quorla_dav is not built\n");
#endif
}

void runDavBench()
{
    std::printf("CalDAV beside Radicale (loopback, HTTP Basic, U1's calendar: every entry is public)\n");
    // QUORLA_BENCH_DAV_ENTRIES=10000 runs one size alone,
    // QUORLA_BENCH_DAV_ROUNDS=N that many rounds.
    const int only = qEnvironmentVariableIntValue("QUORLA_BENCH_DAV_ENTRIES");
    const int rounds = qEnvironmentVariableIntValue("QUORLA_BENCH_DAV_ROUNDS");
    for (const auto& [entries, usual] : {std::pair{10000, 7}, std::pair{100000, 5}}) {
        if (only == 0 || only == entries)
            sideBySide(entries, rounds > 0 ? rounds : usual);
    }
}
