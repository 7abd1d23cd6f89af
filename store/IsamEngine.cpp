#include "IsamEngine.h"

#include "SqliteIsamEngine.h"

namespace {
TIsamEngine* replacement = nullptr;
}

TIsamEngine& TIsamEngine::instance()
{
    static SqliteIsamEngine sqliteEngine;
    return replacement ? *replacement : sqliteEngine;
}

void TIsamEngine::setInstance(TIsamEngine* engine)
{
    replacement = engine;
}
