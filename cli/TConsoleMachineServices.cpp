#include "TConsoleMachineServices.h"

#include <QThread>

QString TConsoleMachineServices::userName()
{
    return qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
}

void TConsoleMachineServices::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}
