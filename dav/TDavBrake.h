#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// Slows the guessing of passwords over HTTP Basic. Failed log-ins are counted
// three ways: per user name and client address, per user name from every
// address, and per client address for every name. After FreeFailures in a
// row of one name from one address, or WideFreeFailures of one name from
// anywhere (an attacker rotating his source addresses) or of one address for
// any names (one trying many names), the next attempts that count falls on
// are refused at once, their password not even checked, until a delay has
// passed since its last failure: FirstDelaySeconds, doubled with each
// further failure, at most MaxDelaySeconds. A log-in that succeeds forgets
// the failures of its name from its address, and trusts that pair from then
// on: an attacker elsewhere (or many names tried through the same reverse
// proxy) cannot keep a person out of the phone he logged in from; that pair
// is still braked on its own. The wide counts are not cleared by a success,
// so that a person's own log-ins never give an attacker fresh guesses.
//
// Nothing waits: a refused attempt is answered at once and the service goes
// on with every other request. Behind a reverse proxy on this machine every
// client comes from it, and the pair brake is then per user name.
//
// Failures are forgotten ForgetSeconds after their delay ran out, a trusted
// pair after TrustSeconds without a log-in; at most MaxTracked counts and
// pairs are kept (the counts not braking go first when more come). Time is
// TClock's, so that tests stand it where they like. Safe to use from any
// thread.
class TDavBrake
{
public:
    static constexpr int FreeFailures = 5;
    static constexpr int WideFreeFailures = 20;
    static constexpr qint64 FirstDelaySeconds = 10;
    static constexpr qint64 MaxDelaySeconds = 15 * 60;
    static constexpr qint64 ForgetSeconds = 60 * 60;
    static constexpr qint64 TrustSeconds = 30 * 24 * 60 * 60;
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
        int free = FreeFailures;
        qint64 last = 0; // seconds since 1970
    };
    // The keys of the pair, the name's and the address's counts.
    static QString pairKey(const QString& name, const QString& client);
    static QString nameKey(const QString& name) { return QLatin1String("N\n") + name; }
    static QString addressKey(const QString& client) { return QLatin1String("A\n") + client; }
    // The delay after `count` failures in a row where `free` are let through.
    static qint64 delayOf(int count, int free);
    static qint64 now();
    qint64 waitOf(const QString& key, qint64 at) const;
    void count(const QString& key, int free, qint64 at);
    void sweep(qint64 at);

    mutable QMutex mutex_;
    QHash<QString, TFailures> failures_;
    QHash<QString, qint64> trusted_; // pair keys, with their last log-in
};
