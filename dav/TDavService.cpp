#include "TDavService.h"

#include "EQuorla.h"
#include "TDavCalendar.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRoleBounds.h"
#include "TServerRoles.h"
#include "TTextCapacity.h"

#include <QCryptographicHash>

namespace {

// The methods a CalDAV server may be asked for that this one does not do:
// 405, where an unknown method is 501.
const QList<QByteArray> Refused{"PATCH", "PROPPATCH", "MKCOL", "MKCALENDAR", "COPY", "MOVE", "LOCK",
                                "UNLOCK", "ACL", "TRACE", "CONNECT"};
// POST: to the scheduling outbox only.
const QList<QByteArray> Served{"OPTIONS", "GET", "HEAD", "PUT", "DELETE", "PROPFIND", "REPORT", "POST"};
const QByteArray Allow = "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, REPORT, POST";

} // namespace

TDavService::TDavService(TServices services, const TDatabaseLocation& location)
    : services_(services), location_(location), personal_(TQuorlaDB::LogsInAsPerson(location))
{
    if (!personal_) {
        // A place without a database is refused, never made one; the
        // datasets that only look on (the trail a sync reads, the holder
        // notes) are made when missing, as a workstation makes them.
        { const TQuorlaDB existing(services_, location_, TQuorlaDB::Opening::ExistingOnly); }
        auto account = std::make_unique<TAccount>();
        account->database = std::make_unique<TQuorlaDB>(services_, location_, TQuorlaDB::Opening::CreateMissing);
        giveBack(std::move(account));
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

TDavService::TAccountPtr TDavService::take(const QString& name, const QByteArray& secret)
{
    const QMutexLocker lock(&poolMutex_);
    // A shared connection (no name) checks every log-in itself.
    std::erase_if(idle_, [&](const TAccountPtr& one) {
        return !name.isEmpty() && one->name == name && one->checked.elapsed() > RecheckSeconds * 1000LL;
    });
    for (auto one = idle_.rbegin(); one != idle_.rend(); ++one) {
        if ((*one)->name == name && (*one)->secret == secret) {
            TAccountPtr found = std::move(*one);
            idle_.erase(std::next(one).base());
            return found;
        }
    }
    return nullptr;
}

void TDavService::giveBack(TAccountPtr account)
{
    TAccountPtr closed;
    const QMutexLocker lock(&poolMutex_);
    idle_.push_back(std::move(account));
    if (idle_.size() > size_t(MaxIdle)) {
        // Closed after the pool is let go of (declared before the lock):
        // a server's goodbye may take a while.
        closed = std::move(idle_.front());
        idle_.erase(idle_.begin());
    }
}

TDavService::TAccountPtr TDavService::logInShared(const QString& name, const QString& password, UserRecord& user,
                                                  QString& key)
{
    TAccountPtr account = take(QString(), QByteArray());
    if (!account) {
        account = std::make_unique<TAccount>();
        account->database = std::make_unique<TQuorlaDB>(services_, location_, TQuorlaDB::Opening::CreateMissing);
    }
    // Kept only for names that exist: a stranger's guesses keep nothing.
    TKnownUser known = account->known.value(name);
    const bool found = findUser(*account->database, name, user, key, known);
    if (found)
        account->known.insert(name, known);
    if (found && user.Password().toUpper() == password.toUpper())
        return account;
    giveBack(std::move(account));
    return nullptr;
}

TDavService::TAccountPtr TDavService::logInPersonal(const QString& name, const QString& password, UserRecord& user,
                                                    QString& key)
{
    const QByteArray secret = QCryptographicHash::hash((name + QLatin1Char('\n') + password).toUtf8(),
                                                       QCryptographicHash::Sha256);
    TAccountPtr account = take(name, secret);
    if (!account) {
        account = std::make_unique<TAccount>();
        try {
            // The service's machine may stand in any zone: it never sets the
            // office's.
            TQuorlaDB::TLogin login{QString(), password, false};
            account->database = TServerRoles::LogIn(services_, location_, name, login);
        } catch (const TQuorlaDB::ERefused&) {
            return nullptr;
        }
        account->name = name;
        account->secret = secret;
        account->checked.start();
        // Sessions opened with another password (one since changed) go.
        const QMutexLocker lock(&poolMutex_);
        std::erase_if(idle_, [&](const TAccountPtr& one) { return one->name == name && one->secret != secret; });
    }
    if (!findUser(*account->database, name, user, key, account->known[name]))
        return nullptr;
    return account;
}

TDavService::TAccountPtr TDavService::logIn(const QString& name, const QString& password, UserRecord& user,
                                            QString& key)
{
    // No password is no log-in, whatever the engine: a folder's user
    // without one, or a server that would trust the connection, must not
    // open his calendar to anyone who knows his name.
    if (password.isEmpty())
        return nullptr;
    return personal_ ? logInPersonal(name, password, user, key) : logInShared(name, password, user, key);
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
    return answerAs(request, name, password);
}

TDavReply TDavService::answerAs(const TDavRequest& request, const QString& name, const QString& password)
{
    const auto unauthorised = [] {
        TDavReply reply = TDavReply::Text(401, QStringLiteral("The user name or password is wrong."));
        reply.addHeader("WWW-Authenticate", Realm);
        return reply;
    };
    // A session that failed is not kept: the next request connects anew.
    TAccountPtr account;
    try {
        UserRecord user;
        QString key;
        account = logIn(name, password, user, key);
        if (!account) {
            brake_.Failed(name, request.client);
            return unauthorised();
        }
        brake_.Succeeded(name, request.client);
        TQuorlaDB& database = *account->database;
        database.SetActingUser(key);
        database.SetWorkstation(WorkstationOf(request.header("user-agent")));
        TDavCalendar calendar(database, user, key, *account->session);
        TDavReply reply = calendar.Answer(request);
        // The service, as every workstation, has the server end the
        // sessions that hold the others up past their bounds: sent after
        // the answer and awaited by no request (the session's next call
        // reads what it answered).
        TRoleBounds::ReapAside(database);
        giveBack(std::move(account));
        reply.user = user.UserName();
        if (request.method == "HEAD")
            reply.body.clear();
        return reply;
    } catch (const EQuorla& e) {
        QString message = e.message();
        message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        TDavReply reply = TDavReply::Text(503, QStringLiteral("The database cannot be used now: %1").arg(message));
        reply.user = name;
        return reply;
    } catch (const std::exception& e) {
        TDavReply reply = TDavReply::Text(500, QStringLiteral("The request failed: %1").arg(QString::fromUtf8(e.what())));
        reply.user = name;
        return reply;
    }
}
