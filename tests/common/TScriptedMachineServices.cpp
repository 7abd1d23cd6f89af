#include "TScriptedMachineServices.h"

#include "TClock.h"

TScriptedMachineServices::~TScriptedMachineServices()
{
    if (clockSet_)
        TClock::setOverride({});
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
