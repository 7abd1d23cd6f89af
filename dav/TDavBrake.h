#pragma once

#include <QHash>
#include <QString>

// Slows the guessing of passwords over HTTP Basic. Failed log-ins are counted
// per user name and client address: after FreeFailures of them in a row, the
// next attempts of that name from that address are refused at once, their
// password not even checked, until a delay has passed since the last failure:
// FirstDelaySeconds, doubled with each further failure, at most
// MaxDelaySeconds. A log-in that succeeds forgets the failures.
//
// Nothing waits: a refused attempt is answered at once and the service goes
// on with every other request. An attacker elsewhere cannot keep a person
// out of his own phone; behind a reverse proxy on this machine every client
// comes from it, and the brake is then per user name.
//
// Failures are forgotten ForgetSeconds after their delay ran out; at most
// MaxTracked names and addresses are kept (the ones not braked go first when
// more come). Time is TClock's, so that tests stand it where they like.
class TDavBrake
{
public:
    static constexpr int FreeFailures = 5;
    static constexpr qint64 FirstDelaySeconds = 10;
    static constexpr qint64 MaxDelaySeconds = 15 * 60;
    static constexpr qint64 ForgetSeconds = 60 * 60;
    static constexpr int MaxTracked = 10000;

    // The seconds `name` from `client` must still wait before a log-in is
    // tried; 0 when it may be tried now.
    qint64 Wait(const QString& name, const QString& client) const;
    void Failed(const QString& name, const QString& client);
    void Succeeded(const QString& name, const QString& client);

private:
    struct TFailures
    {
        int count = 0;
        qint64 last = 0; // seconds since 1970
    };
    static QString keyOf(const QString& name, const QString& client);
    // The delay after `count` failures in a row.
    static qint64 delayOf(int count);
    static qint64 now();
    void sweep(qint64 at);

    QHash<QString, TFailures> failures_;
};
