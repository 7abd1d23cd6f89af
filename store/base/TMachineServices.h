#pragma once

#include <QDateTime>
#include <QString>

// What the program asks of the machine it runs on: the current moment, the
// logged-on user, the host name and short waits. Every program has one, the
// command-line tools included; a test's stands the clock where it likes and
// never really waits.
class TMachineServices
{
public:
    TMachineServices() = default;
    virtual ~TMachineServices();
    TMachineServices(const TMachineServices&) = delete;
    TMachineServices& operator=(const TMachineServices&) = delete;

    // The current local date and time. Always TClock::now(), so that stamps,
    // alarm polling and anything asking the machine agree on one moment; a
    // scripted clock is installed through TClock's override.
    QDateTime now() const;

    // The operating system's name of the logged-on user, as the system gives it
    // (the caller upper-cases it); empty when the system gives none.
    virtual QString userName() = 0;

    // The workstation's host name, as the change trail and the lock holder
    // notes name it. By default the machine's own.
    virtual QString hostName();

    // Waits `milliseconds` without processing events.
    virtual void sleep(int milliseconds) = 0;
};
