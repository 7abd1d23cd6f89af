#pragma once

#include "TDatabaseLocation.h"
#include "TDavBrake.h"
#include "TDavCalendar.h"
#include "TServices.h"
#include "UserRecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>
#include <vector>

class TQuorlaDB;
struct TDavReply;
struct TDavRequest;

// What quorla_dav answers, request by request: who is logged in, and then
// the calendar (TDavCalendar) as that user may see and change it.
//
// Log-in is HTTP Basic with the Quorla user name and password, checked as a
// workstation checks them: on a server whose URI names no user, each person
// connects as his own server role, so the server's row policies decide what
// his requests read and write (his session is kept and checked again after
// RecheckSeconds); on a folder, or a server used by one role for everyone,
// the name is looked up and the passwords compared upper-cased. Basic over
// plain HTTP is refused except from this machine (a reverse proxy on it, or a
// test): the password would cross the network in clear. Repeated failures
// of one name, or from one address, brake further log-ins (TDavBrake): they
// are answered 429 with Retry-After, their password not checked.
//
// Every change is recorded in the trail by the user, with the service and
// the client's User-Agent as the workstation.
class TDavService
{
public:
    // Opens the database at `location` (a folder or a server used by one role
    // now; a per-person server at each log-in). Throws EQuorla when it cannot.
    // `services` are handed to every connection it opens.
    TDavService(TServices services, const TDatabaseLocation& location);
    ~TDavService();
    TDavService(const TDavService&) = delete;
    TDavService& operator=(const TDavService&) = delete;

    static constexpr int RecheckSeconds = 300;
    // Connections kept open between requests, each with what its session
    // read; those in use by requests under way come on top.
    static constexpr int MaxIdle = 64;
    static constexpr const char* Realm = "Basic realm=\"Quorla\", charset=\"UTF-8\"";

    // Safe to call from several threads at once: each request is answered
    // on a connection of its own, taken from the pool or opened for it, so
    // that one that waits on the database delays no other.
    TDavReply Answer(const TDavRequest& request);

    // The workstation the trail names for a change made through the service.
    static QString WorkstationOf(const QByteArray& userAgent);

private:
    // A user's record as last read, used while the users dataset's change
    // mark stands (any change of any user moves it): rights and password
    // stay current for a mark's read rather than a look-up by name.
    struct TKnownUser
    {
        QByteArray mark;
        UserRecord user;
        QString key;
    };
    static bool findUser(TQuorlaDB& database, const QString& name, UserRecord& user, QString& key, TKnownUser& known);

    // One connection to the database and what its session keeps: on a
    // per-person server one user's (`name`, logged in with `secret`), else
    // anybody's (`name` empty). A request has one to itself; between
    // requests it waits in the pool.
    struct TAccount
    {
        QString name;
        QByteArray secret;
        std::unique_ptr<TQuorlaDB> database;
        QElapsedTimer checked;
        std::shared_ptr<TDavCalendar::TSession> session = std::make_shared<TDavCalendar::TSession>();
        QHash<QString, TKnownUser> known; // by user name
    };
    using TAccountPtr = std::unique_ptr<TAccount>;
    // The connection to act on for `name` and `password`, with the user's
    // record and key; null for a wrong name or password.
    TAccountPtr logIn(const QString& name, const QString& password, UserRecord& user, QString& key);
    TAccountPtr logInShared(const QString& name, const QString& password, UserRecord& user, QString& key);
    TAccountPtr logInPersonal(const QString& name, const QString& password, UserRecord& user, QString& key);
    TDavReply answerAs(const TDavRequest& request, const QString& name, const QString& password);
    // A pooled connection of `name` logged in with `secret` (empty for the
    // shared one), or null; connections of that name whose log-in has grown
    // old are closed.
    TAccountPtr take(const QString& name, const QByteArray& secret);
    // Puts `account` back in the pool; the one unused longest is closed
    // when the pool holds more than MaxIdle.
    void giveBack(TAccountPtr account);

    TServices services_;
    TDatabaseLocation location_;
    bool personal_ = false;
    QMutex poolMutex_;
    std::vector<TAccountPtr> idle_; // the one used last at the back
    TDavBrake brake_;
};
