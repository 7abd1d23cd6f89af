#include "TServices.h"

#include <QtGlobal>

#include <utility>

namespace {
TServices* installed = nullptr;
}

TServices::~TServices()
{
    if (installed == this)
        installed = nullptr;
}

TServices& TServices::current()
{
    if (installed == nullptr)
        qFatal("TServices::current() called before any services were installed");
    return *installed;
}

TServices* TServices::setCurrent(TServices* services)
{
    return std::exchange(installed, services);
}
