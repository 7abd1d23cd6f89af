#include "TIsamEngine.h"

#include "TIsamConnection.h"
#include "PostgresIsamEngine.h"
#include "SqliteIsamEngine.h"
#include "TDatabaseLocation.h"

namespace {
TIsamEngine* replacement = nullptr;
}

std::shared_ptr<TIsamConnection> TIsamEngine::connect(const QString& /*location*/)
{
    return nullptr;
}

TIsamEngine& TIsamEngine::forName(const QString& name)
{
    static SqliteIsamEngine sqliteEngine;
    static PostgresIsamEngine postgresEngine;
    if (replacement)
        return *replacement;
    if (TDatabaseLocation::NamesServer(name))
        return postgresEngine;
    return sqliteEngine;
}

void TIsamEngine::setInstance(TIsamEngine* engine)
{
    replacement = engine;
}
