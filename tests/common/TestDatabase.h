#pragma once

#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "UserRecord.h"

#include <QStringList>

#include <memory>

namespace TestDatabase {

// A new database in a folder of its own, recorded as the workstation's, with
// one user per full name, keys from 1.
inline std::unique_ptr<TQuorlaDB> database(const QString& folder, const QStringList& userNames)
{
    TWorkstationStore store;
    if (!store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), TestEnvironment::freshFolder(folder)))
        qFatal("cannot point the workstation at a test database");
    auto db = std::make_unique<TQuorlaDB>();
    for (const QString& name : userNames) {
        UserRecord record;
        record.setFullName(name);
        db->Users().Insert(record.bytes());
    }
    return db;
}

} // namespace TestDatabase
