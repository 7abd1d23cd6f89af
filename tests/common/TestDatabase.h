#pragma once

#include "PostgresCluster.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "UserRecord.h"

#include <QStringList>

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

} // namespace TestDatabase
