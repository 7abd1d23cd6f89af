#include "TMachineServices.h"

#include "TClock.h"

#include <QSysInfo>

TMachineServices::~TMachineServices() = default;

QDateTime TMachineServices::now() const
{
    return TClock::now();
}

QString TMachineServices::hostName()
{
    return QSysInfo::machineHostName();
}
