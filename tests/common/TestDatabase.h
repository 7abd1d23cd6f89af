#pragma once

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "PostgresCluster.h"
#include "PostgresIsamEngine.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TStamp.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "UserRecord.h"

#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <memory>

namespace TestDatabase {

// Records `location` (a folder or a server URI) as the workstation's database
// and answers it; the test ends when it cannot.
inline QString use(const QString& location)
{
    TWorkstationStore store;
    if (location.isEmpty() || !store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), location))
        qFatal("cannot point the workstation at a test database");
    return location;
}

// A new, empty database `name` recorded as the workstation's: on `server` when
// the run has one, else in a fresh folder; answers its location.
inline QString fresh(const QString& name, PostgresCluster* server = nullptr)
{
    return use(server ? server->createDatabase(name) : TestEnvironment::freshFolder(name));
}

// A new database in a folder of its own, recorded as the workstation's, with
// one user per full name, keys from 1.
inline std::unique_ptr<TQuorlaDB> database(const QString& folder, const QStringList& userNames)
{
    fresh(folder);
    auto db = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest());
    for (const QString& name : userNames) {
        UserRecord record;
        record.setFullName(name);
        db->Users().Insert(record.bytes());
    }
    return db;
}

// One test case's office: its scripted services (on the workstation
// "ws-anna"), a new database (`name` and a serial; on `server` when the run
// has one) recorded as the workstation's and open in `db`, `users` users
// "User 1", "User 2", ... (abbreviated "U1", "U2", ...) with keys from 1,
// and user 1 acting.
struct Office
{
    TScriptedServices services;
    QString location;
    std::unique_ptr<TQuorlaDB> db;

    explicit Office(const QString& name, PostgresCluster* server, int users = 0)
    {
        static int serial = 0;
        services.setHostName(QStringLiteral("ws-anna"));
        location = fresh(name + QString::number(++serial), server);
        db = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest());
        for (int i = 1; i <= users; ++i) {
            UserRecord u;
            u.setFullName(QStringLiteral("User %1").arg(i));
            u.setAbbreviation(QStringLiteral("U%1").arg(i));
            db->Users().Insert(u.bytes());
        }
        db->SetActingUser(RecordKey::format(1));
    }
};

// A user record: user name `name`, full name "`name` Fullname".
inline UserRecord user(const QString& name)
{
    UserRecord r;
    r.setUserName(name);
    r.setFullName(name + QStringLiteral(" Fullname"));
    return r;
}

// Inserts user(name) for each name into `users`; false when one failed.
inline bool addUsers(TXIsamFile& users, const QStringList& names)
{
    for (const QString& name : names)
        if (!users.Insert(user(name).bytes()))
            return false;
    return true;
}

inline CategoryRecord category(const QString& description)
{
    CategoryRecord r;
    r.setDescription(description);
    return r;
}

// A new entry record (as DayEntryRecord::initialise() makes it) described
// `description`, for the users `assignees`, owned by user `owner` unless 0.
inline DayEntryRecord entry(const QString& description, const QList<int>& assignees = {}, int owner = 0)
{
    DayEntryRecord e;
    e.initialise();
    e.setDescription(description);
    if (owner)
        e.setOwnerKey(RecordKey::format(owner));
    QStringList keys;
    for (int user : assignees)
        keys << RecordKey::format(user);
    e.setAssigneeKeys(keys);
    return e;
}

// The time key (as entries and alarms hold times) of `moment`.
inline QString timeKey(const QDateTime& moment)
{
    TStamp stamp;
    stamp.SetDateTime(moment);
    return stamp.Key();
}

// An alarm record wanted at `time`, a time key.
inline AlarmRecord alarmAt(const QString& time)
{
    AlarmRecord a;
    a.setFlags(AlarmRecord::AlarmWanted);
    a.setAlarmTime(time);
    return a;
}

// The alarms of entry `entryKey` (of every entry when it is empty), each with
// its key, in the order of the key (of the entry's key first, for all).
inline QList<std::pair<QString, AlarmRecord>> alarms(TQuorlaDB& db, const QString& entryKey = {})
{
    QList<std::pair<QString, AlarmRecord>> found;
    AlarmRecord a;
    const bool all = entryKey.isEmpty();
    db.Alarms().Range(a.bytes(), all ? TXIsamFile::PrimaryIndex : AlarmRecord::DayEntryKeyIndex,
                      all ? RecordKey::format(0) : entryKey, all ? QStringLiteral("9999999999") : entryKey, [&] {
                          found.append({db.Alarms().CurrentKey(), a});
                          return true;
                      });
    return found;
}

// Runs `statement` on the SQLite file at `path` beside the engine, as another
// program (or an older build) would, and answers the first value it gave (empty
// when none); the test ends when it fails.
inline QString sqlOnFile(const QString& path, const QByteArray& statement)
{
    sqlite3* db = nullptr;
    QString first;
    const auto take = [](void* out, int columns, char** values, char**) {
        if (static_cast<QString*>(out)->isNull() && columns > 0)
            *static_cast<QString*>(out) = QString::fromUtf8(values[0] ? values[0] : "");
        return 0;
    };
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    if (sqlite3_exec(db, statement.constData(), take, &first, nullptr) != SQLITE_OK)
        qFatal("%s: %s", statement.constData(), sqlite3_errmsg(db));
    sqlite3_close(db);
    return first;
}

// The database named by a server location or dataset name.
inline QString serverDatabase(const QString& location)
{
    return location.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
}

// Sets the mark of the largest key ever held of `dataset` (a file, or a
// dataset on `server`) to `mark`; an empty mark takes it away, as in a
// dataset written before there were marks. The test ends when that fails.
inline void setKeyMark(PostgresCluster* server, const QString& dataset, const QString& mark)
{
    if (!server) {
        sqlOnFile(dataset, mark.isEmpty()
                               ? QByteArray("DELETE FROM isam_meta WHERE name = 'highkey'")
                               : "UPDATE isam_meta SET value = '" + mark.toLatin1() + "' WHERE name = 'highkey'");
        return;
    }
    server->query(serverDatabase(dataset), "UPDATE quorla_datasets SET highkey = '" + mark.toLatin1()
                                               + "' WHERE name = '" + PostgresIsamEngine::tableName(dataset) + "'");
    if (!server->error().isEmpty())
        qFatal("%s", qPrintable(server->error()));
}

} // namespace TestDatabase
