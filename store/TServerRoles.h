#pragma once

#include "TQuorlaDB.h"

#include <QByteArray>
#include <QString>

#include <memory>

class PostgresConnection;
class TDatabaseLocation;
class UserRecord;

// The server roles of a Quorla database on a PostgreSQL server: each Quorla
// user logs in to the server as a role of his own, whose password the server
// checks (SCRAM) and keeps as its verifier only; the users dataset keeps no
// password at all there (the field stays, empty, and the server refuses one).
//
// Role names: "quorla_" followed by the user name in lower case: user BOB
// logs in as the role quorla_bob, user "MARY ANN" as "quorla_mary ann". Roles
// belong to the whole server, not to one database: where another database of
// the server (another office) has that name already, the user's role is
// "quorla@", the database's tag and ":" before his name (LocalRoleName);
// a log-in tries both. A database's roles alone may connect to it, and its
// role functions touch its own roles only.
//
// Group roles: "quorla-users" (every Quorla role is a member; it holds the
// rights on the tables, and the row policies speak of it) and
// "quorla-admins" (the users with the right to administer). The hyphen keeps
// them apart from every user's role, whose names all begin "quorla_".
//
// Administrators create, rename, re-password and drop the others' roles
// through functions that run with the rights of the role that installed them
// (SECURITY DEFINER): on PostgreSQL 15 the CREATEROLE attribute would let
// every administrator grant himself pg_execute_server_program or
// pg_read_server_files and so act as the server's system user. The functions
// may be run by members of "quorla-admins" only, touch only roles that
// are members of "quorla-users" (never a superuser, never the groups), take a
// password only as a SCRAM verifier, and pin their search path.
//
// The role that installs them must have CREATEROLE (or be a superuser); on a
// fresh database that is the role that created it, its first administrator.
// It owns the tables, and so is not bound by their row policies; and since
// whoever set its password would have its powers, the functions never touch
// a role that may create roles: only that role changes itself.
//
// Row policies (on the group "quorla-users"): an entry's row is read when it
// is not private, or by its owner, its assignees and administrators; its
// alarms and trail records follow it (an alarm is also its user's, a trail
// record its author's; an alarm action, snoozed or switched off, is read by
// its author and administrators only; an alarm of a user who may not read
// its entry carries nothing of the entry, as one of a missing entry) - its
// trail records as it was when each was written, which the server keeps
// beside each record (TServerTrail), whatever became of it since; its key,
// once deleted, is never used again. Entries and series are added by their
// owner with the right to add entries (administrators and those with the
// right to change others' entries add anyone's: a poll grows every series,
// a series changed is made anew as its owner's), changed and deleted by
// their owner or with the right to change
// others' entries or to administer. Users, categories and the office's
// settings are changed by administrators only. A user's rows of the import
// map, and the names his CalDAV clients gave (TClientNames), are his own
// (administrators': all). The columns the policies read (an
// entry's owner, assignees and private flag, an alarm's user and entry, a
// trail record's author and subject, an import map row's user, a user's
// rights) are computed by the server from the record's bytes in the
// statement that writes them (stored generated columns; a trail record's
// readers by a trigger that ignores what the client sends), so no client
// can set them apart. The policies know the session by its role alone
// (never by a setting the session could change): its row of quorla_roles
// gives its user's key and rights, which a trigger on the users copies
// there from his record whenever it is written. What every record written
// must be, and how the datasets' counters may move, the server checks too
// (TServerChecks, set up with the rest).
class TServerRoles
{
public:
    // The server role of the user named `userName`.
    static QString RoleName(const QString& userName);
    // His role in the database named `database` where RoleName is another
    // database's: the database's name as its tag when it is short and
    // plain (lower-case letters, digits, "_"), else a hash of it.
    static QString LocalRoleName(const QString& userName, const QString& database);
    // Logs in to `location` as the user named `userName` with `login`'s
    // password: as RoleName, else as LocalRoleName of the database the
    // location names; `login` keeps the role that was let in. Throws
    // TQuorlaDB::ERefused when neither is.
    static std::unique_ptr<TQuorlaDB> LogIn(TServices services, const TDatabaseLocation& location,
                                            const QString& userName, TQuorlaDB::TLogin& login);

    // The roles of `database`'s server; inert (Kept() false) for a folder.
    explicit TServerRoles(TQuorlaDB& database);

    // Whether the database keeps its users as server roles.
    bool Kept();

    // Makes the database keep its users as server roles: the groups, the
    // functions, the rights on the tables and their row policies, and the
    // logged-in role (the one running this) as user `userKey`, an
    // administrator (none when empty: a superuser or the tables' owner
    // setting up a copy). Running it again changes nothing but what this
    // program sets up differently; the server records which set-up it
    // holds. Throws EQuorla.
    void Install(const QString& userKey);

    // The set-up Install makes: counted up whenever its functions, rights
    // or policies change. A server set up before it was recorded holds 1.
    static constexpr int SetUpVersion = 16;

    // Brings a server set up by an earlier program to this one's set-up (as
    // Install does, every role kept), when the session's role owns the
    // tables (the database's first administrator, or a superuser): nobody
    // else may change them, and for everyone else it does nothing. Answers
    // whether it did. Throws EQuorla.
    bool Upgrade();

    // For a database just copied onto the server: every user becomes a role
    // with the password his record holds, the records keep none, and the
    // rest is set up as by Install, all in one transaction. A user whose
    // role is the one running this keeps that role and its password. A
    // user whose role name another database of the server holds gets this
    // database's own (LocalRoleName). Throws EQuorla.
    struct TAdopted
    {
        int roles = 0;           // roles made
        int withoutPassword = 0; // of those, roles that cannot log in yet
    };
    TAdopted AdoptUsers();

    // The role of the user named `userName`, stored under `key`, with
    // `password` (none: the role cannot log in until one is set), in the
    // administrators' group when `administrator`. Throws EQuorla.
    void Create(const QString& userName, const QString& key, const QString& password, bool administrator);
    // Brings the role of `before` in line with `after` (name, password when
    // one is given, membership of the administrators). Throws EQuorla.
    void Change(const UserRecord& before, const UserRecord& after, const QString& password);
    void Drop(const QString& userName);

    // A transaction around a change of a record and its role; commits when
    // told, rolls back otherwise. Within a transaction already open it does
    // nothing: the outer one decides; nor, unless `always`, on a database
    // that keeps no roles.
    class TStep
    {
    public:
        explicit TStep(TServerRoles& roles, bool always = false);
        ~TStep();
        TStep(const TStep&) = delete;
        TStep& operator=(const TStep&) = delete;
        void Commit();

    private:
        PostgresConnection* connection_ = nullptr;
    };

private:
    // The datasets Install gives policies, made where they are missing.
    void makeMissingDatasets();
    // The role this database gives a new user named `userName`, and the one
    // its user named so has.
    QString newRole(const QString& userName);
    QString roleOf(const QString& userName);
    // Runs `sql`; answers its first value (empty when none). Throws EQuorla.
    QByteArray call(const QByteArray& sql, const QList<QByteArray>& params);
    QByteArray verifierOf(const QString& password, const QString& role);
    // Clients' names written while they were shared become their users'
    // own (TClientNames). Throws EQuorla, having rolled back unless `outer`.
    void adoptSharedNames(bool outer);

    TQuorlaDB& database_;
    PostgresConnection* connection_ = nullptr;
};
