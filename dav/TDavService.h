#pragma once

#include "TDatabaseLocation.h"
#include "TDavBrake.h"
#include "TDavCalendar.h"
#include "TServices.h"
#include "UserRecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <memory>

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
// of one name from one address brake its further log-ins (TDavBrake): they
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
    static constexpr const char* Realm = "Basic realm=\"Quorla\", charset=\"UTF-8\"";

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

    struct TAccount
    {
        QByteArray secret;
        std::shared_ptr<TQuorlaDB> database;
        QElapsedTimer checked;
        std::shared_ptr<TDavCalendar::TSession> session = std::make_shared<TDavCalendar::TSession>();
        TKnownUser known;
    };
    // The database to act on for `name` and `password`, with the user's
    // record and key and what the session keeps; null for a wrong name or
    // password.
    TQuorlaDB* logIn(const QString& name, const QString& password, UserRecord& user, QString& key,
                     std::shared_ptr<TDavCalendar::TSession>& session);

    TServices services_;
    TDatabaseLocation location_;
    bool personal_ = false;
    std::unique_ptr<TQuorlaDB> shared_;
    std::shared_ptr<TDavCalendar::TSession> sharedSession_ = std::make_shared<TDavCalendar::TSession>();
    QHash<QString, TAccount> accounts_;
    QHash<QString, TKnownUser> sharedUsers_;
    TDavBrake brake_;
};
