#pragma once

#include "TMachineServices.h"

#include <QDateTime>
#include <QString>

// The machine of a test: the clock stands where the test puts it, the user
// and host names are the test's, and nothing really sleeps.
class TScriptedMachineServices : public TMachineServices
{
public:
    // Constructing one installs it as the newest; destroying it puts the
    // previously installed one back and removes any clock it set.
    TScriptedMachineServices();
    ~TScriptedMachineServices() override;

    // The newest one alive, which TScriptedServices::ofTest() passes the
    // machine's calls to. None ends the process.
    static TScriptedMachineServices& newest();

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
    TScriptedMachineServices* previous_;
    bool clockSet_ = false;
    QString userName_;
    QString hostName_ = QStringLiteral("ws-test");
    int sleepCalls_ = 0;
    qint64 slept_ = 0;
};
