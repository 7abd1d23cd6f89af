#include "IsamEngine.h"

#include "IsamConnection.h"
#include "PostgresIsamEngine.h"
#include "SqliteIsamEngine.h"

namespace {
TIsamEngine* replacement = nullptr;
}

std::shared_ptr<TIsamConnection> TIsamEngine::connect(const QString& /*location*/)
{
    return nullptr;
}

bool TIsamEngine::isServer(const QString& location)
{
    // The two URI prefixes libpq itself accepts, as it accepts them.
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

QString TIsamEngine::datasetName(const QString& location, const QString& dataset)
{
    return isServer(location) ? location + QLatin1Char('#') + dataset : location + dataset;
}

TIsamEngine& TIsamEngine::forName(const QString& name)
{
    static SqliteIsamEngine sqliteEngine;
    static PostgresIsamEngine postgresEngine;
    if (replacement)
        return *replacement;
    if (isServer(name))
        return postgresEngine;
    return sqliteEngine;
}

void TIsamEngine::setInstance(TIsamEngine* engine)
{
    replacement = engine;
}
