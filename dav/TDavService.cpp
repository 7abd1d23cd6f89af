#include "TDavService.h"

#include "EQuorla.h"
#include "TDavCalendar.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TServerRoles.h"
#include "TTextCapacity.h"

#include <QCryptographicHash>

namespace {

// The methods a CalDAV server may be asked for that this one does not do:
// 405, where an unknown method is 501.
const QList<QByteArray> Refused{"POST", "PATCH", "PROPPATCH", "MKCOL", "MKCALENDAR", "COPY", "MOVE", "LOCK",
                                "UNLOCK", "ACL", "TRACE", "CONNECT"};
const QList<QByteArray> Served{"OPTIONS", "GET", "HEAD", "PUT", "DELETE", "PROPFIND", "REPORT"};
const QByteArray Allow = "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, REPORT";

} // namespace

TDavService::TDavService(TServices services, const TDatabaseLocation& location)
    : services_(services), location_(location), personal_(TQuorlaDB::LogsInAsPerson(location))
{
    if (!personal_) {
        // A place without a database is refused, never made one; the
        // datasets that only look on (the trail a sync reads, the holder
        // notes) are made when missing, as a workstation makes them.
        { const TQuorlaDB existing(services_, location_, TQuorlaDB::Opening::ExistingOnly); }
        shared_ = std::make_unique<TQuorlaDB>(services_, location_, TQuorlaDB::Opening::CreateMissing);
    }
}

TDavService::~TDavService() = default;

QString TDavService::WorkstationOf(const QByteArray& userAgent)
{
    const QString agent = QString::fromUtf8(userAgent).simplified();
    return agent.isEmpty() ? QStringLiteral("quorla_dav") : QStringLiteral("quorla_dav: %1").arg(agent);
}

bool TDavService::findUser(TQuorlaDB& database, const QString& name, UserRecord& user, QString& key, TKnownUser& known)
{
    QByteArray mark;
    if (!database.Users().ChangeMark(mark))
        mark.clear();
    if (!mark.isEmpty() && mark == known.mark) {
        user = known.user;
        key = known.key;
        return true;
    }
    known.mark.clear();
    if (!TLookup::Equal(database.Users(), user.bytes(), UserRecord::UserNameIndex, name))
        return false;
    key = database.Users().CurrentKey();
    known = {mark, user, key};
    return true;
}

TQuorlaDB* TDavService::logIn(const QString& name, const QString& password, UserRecord& user, QString& key,
                               std::shared_ptr<TDavCalendar::TSession>& session)
{
    // No password is no log-in, whatever the engine: a folder's user
    // without one, or a server that would trust the connection, must not
    // open his calendar to anyone who knows his name.
    if (password.isEmpty())
        return nullptr;
    if (!personal_) {
        TQuorlaDB& database = *shared_;
        session = sharedSession_;
        // Kept only for names that exist: a stranger's guesses keep nothing.
        TKnownUser known = sharedUsers_.value(name);
        if (!findUser(database, name, user, key, known))
            return nullptr;
        sharedUsers_.insert(name, known);
        if (user.Password().toUpper() != password.toUpper())
            return nullptr;
        return &database;
    }
    const QByteArray secret = QCryptographicHash::hash((name + QLatin1Char('\n') + password).toUtf8(),
                                                       QCryptographicHash::Sha256);
    auto found = accounts_.find(name);
    if (found != accounts_.end()
        && (found->secret != secret || found->checked.elapsed() > RecheckSeconds * 1000LL)) {
        accounts_.erase(found);
        found = accounts_.end();
    }
    if (found == accounts_.end()) {
        TAccount account;
        try {
            // The service's machine may stand in any zone: it never sets the
            // office's.
            TQuorlaDB::TLogin login{QString(), password, false};
            account.database = TServerRoles::LogIn(services_, location_, name, login);
        } catch (const TQuorlaDB::ERefused&) {
            return nullptr;
        }
        account.secret = secret;
        account.checked.start();
        found = accounts_.insert(name, std::move(account));
    }
    TQuorlaDB& database = *found->database;
    if (!findUser(database, name, user, key, found->known)) {
        accounts_.erase(found);
        return nullptr;
    }
    session = found->session;
    return &database;
}

TDavReply TDavService::Answer(const TDavRequest& request)
{
    const QString path = request.path;
    if (path == QLatin1String("/.well-known/caldav") || path == QLatin1String("/.well-known/caldav/")) {
        TDavReply reply = TDavReply::Text(301, QStringLiteral("The calendars are at /dav/."));
        reply.addHeader("Location", "/dav/");
        return reply;
    }
    if (Refused.contains(request.method)) {
        TDavReply reply = TDavReply::Text(405, QStringLiteral("The method %1 is not allowed here.")
                                                   .arg(QString::fromLatin1(request.method)));
        reply.addHeader("Allow", Allow);
        return reply;
    }
    if (!Served.contains(request.method))
        return TDavReply::Text(501, QStringLiteral("The method %1 is not implemented.")
                                        .arg(QString::fromLatin1(request.method.left(32))));
    if (request.method == "OPTIONS") {
        TDavReply reply;
        reply.status = 200;
        reply.addHeader("DAV", "1, 3, calendar-access");
        reply.addHeader("Allow", Allow);
        return reply;
    }
    if (!request.encrypted && !request.loopback)
        return TDavReply::Text(403, QStringLiteral("Log-in over plain HTTP is refused: use https://, or a reverse "
                                                   "proxy on this machine."));
    const QByteArray authorization = request.header("authorization");
    QString name;
    QString password;
    if (authorization.startsWith("Basic ")) {
        const QString pair = QString::fromUtf8(QByteArray::fromBase64(authorization.mid(6).trimmed()));
        const qsizetype colon = pair.indexOf(QLatin1Char(':'));
        if (colon > 0) {
            name = UserRecord::NameOf(pair.left(colon));
            password = pair.mid(colon + 1);
        }
    }
    const auto unauthorised = [] {
        TDavReply reply = TDavReply::Text(401, QStringLiteral("The user name or password is wrong."));
        reply.addHeader("WWW-Authenticate", Realm);
        return reply;
    };
    if (name.isEmpty() || !TTextCapacity::fits(name, UserRecord::UserNameCapacity))
        return unauthorised();
    if (const qint64 wait = brake_.Wait(name, request.client)) {
        TDavReply reply = TDavReply::Text(
            429, QStringLiteral("Too many failed log-ins as %1: try again in %2 seconds.").arg(name).arg(wait));
        reply.addHeader("Retry-After", QByteArray::number(wait));
        reply.user = name;
        return reply;
    }
    try {
        UserRecord user;
        QString key;
        std::shared_ptr<TDavCalendar::TSession> session;
        TQuorlaDB* database = logIn(name, password, user, key, session);
        if (database == nullptr) {
            brake_.Failed(name, request.client);
            return unauthorised();
        }
        brake_.Succeeded(name, request.client);
        database->SetActingUser(key);
        database->SetWorkstation(WorkstationOf(request.header("user-agent")));
        TDavCalendar calendar(*database, user, key, *session);
        TDavReply reply = calendar.Answer(request);
        reply.user = user.UserName();
        if (request.method == "HEAD")
            reply.body.clear();
        return reply;
    } catch (const EQuorla& e) {
        // A session that failed is not kept: the next request connects anew.
        accounts_.remove(name);
        QString message = e.message();
        message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        TDavReply reply = TDavReply::Text(503, QStringLiteral("The database cannot be used now: %1").arg(message));
        reply.user = name;
        return reply;
    } catch (const std::exception& e) {
        accounts_.remove(name);
        TDavReply reply = TDavReply::Text(500, QStringLiteral("The request failed: %1").arg(QString::fromUtf8(e.what())));
        reply.user = name;
        return reply;
    }
}
