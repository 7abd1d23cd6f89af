#pragma once

#include "TMachineServices.h"
#include "TScriptedPart.h"

#include <QDateTime>
#include <QString>

// The machine of a test: the clock stands where the test puts it, the user
// and host names are the test's, and nothing really sleeps. The newest one
// alive (TScriptedPart) answers TScriptedServices::ofTest()'s machine.
class TScriptedMachineServices : public TMachineServices, public TScriptedPart<TScriptedMachineServices>
{
public:
    // Destroying it removes any clock it set.
    ~TScriptedMachineServices() override;

    // Stands the clock (TClock and so now()) at `moment` until changed again.
    void setNow(const QDateTime& moment);
    void setUserName(const QString& name) { userName_ = name; }
    void setHostName(const QString& name) { hostName_ = name; }

    int sleepCalls() const { return sleepCalls_; }
    // Sum of all sleep() requests, in milliseconds; nothing really waits.
    qint64 sleptMilliseconds() const { return slept_; }

    QString userName() override { return userName_; }
    QString hostName() override { return hostName_; }
    void sleep(int milliseconds) override;

private:
    bool clockSet_ = false;
    QString userName_;
    QString hostName_ = QStringLiteral("ws-test");
    int sleepCalls_ = 0;
    qint64 slept_ = 0;
};
