#include "TScriptedMachineServices.h"

#include "TClock.h"

#include <utility>

namespace {
TScriptedMachineServices* newestAlive = nullptr;
}

TScriptedMachineServices::TScriptedMachineServices()
    : previous_(std::exchange(newestAlive, this))
{
}

TScriptedMachineServices::~TScriptedMachineServices()
{
    if (clockSet_)
        TClock::setOverride({});
    newestAlive = previous_;
}

TScriptedMachineServices& TScriptedMachineServices::newest()
{
    if (newestAlive == nullptr)
        qFatal("No scripted machine services are installed");
    return *newestAlive;
}

void TScriptedMachineServices::setNow(const QDateTime& moment)
{
    clockSet_ = true;
    TClock::setOverride([moment] { return moment; });
}

void TScriptedMachineServices::sleep(int milliseconds)
{
    ++sleepCalls_;
    slept_ += milliseconds;
}
