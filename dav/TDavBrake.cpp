#include "TDavBrake.h"

#include "TClock.h"

#include <algorithm>

QString TDavBrake::pairKey(const QString& name, const QString& client)
{
    return QLatin1String("P\n") + name + QLatin1Char('\n') + client;
}

qint64 TDavBrake::delayOf(int count, int free)
{
    if (count < free)
        return 0;
    // Doubled up to the cap; the shift stays small.
    const int doublings = std::min(count - free, 20);
    return std::min(FirstDelaySeconds << doublings, MaxDelaySeconds);
}

qint64 TDavBrake::now()
{
    return TClock::now().toSecsSinceEpoch();
}

qint64 TDavBrake::waitOf(const QString& key, qint64 at) const
{
    const auto found = failures_.constFind(key);
    if (found == failures_.cend() || found->count < found->free)
        return 0;
    return std::max<qint64>(0, found->last + delayOf(found->count, found->free) - at);
}

qint64 TDavBrake::Wait(const QString& name, const QString& client) const
{
    const QMutexLocker lock(&mutex_);
    if (failures_.isEmpty())
        return 0;
    const qint64 at = now();
    const QString pair = pairKey(name, client);
    qint64 wait = waitOf(pair, at);
    const auto trusted = trusted_.constFind(pair);
    if (trusted == trusted_.cend() || at - *trusted >= TrustSeconds)
        wait = std::max({wait, waitOf(nameKey(name), at), waitOf(addressKey(client), at)});
    return wait;
}

void TDavBrake::count(const QString& key, int free, qint64 at)
{
    if (failures_.size() >= MaxTracked && !failures_.contains(key))
        sweep(at);
    TFailures& failures = failures_[key];
    ++failures.count;
    failures.free = free;
    failures.last = at;
}

void TDavBrake::Failed(const QString& name, const QString& client)
{
    const QMutexLocker lock(&mutex_);
    const qint64 at = now();
    count(pairKey(name, client), FreeFailures, at);
    count(nameKey(name), WideFreeFailures, at);
    count(addressKey(client), WideFreeFailures, at);
}

void TDavBrake::Succeeded(const QString& name, const QString& client)
{
    const QMutexLocker lock(&mutex_);
    const QString pair = pairKey(name, client);
    if (!failures_.isEmpty())
        failures_.remove(pair);
    const qint64 at = now();
    if (trusted_.size() >= MaxTracked && !trusted_.contains(pair))
        trusted_.removeIf([at](const auto& one) { return at - one.value() >= TrustSeconds; });
    if (trusted_.size() < MaxTracked || trusted_.contains(pair))
        trusted_.insert(pair, at);
}

void TDavBrake::sweep(qint64 at)
{
    failures_.removeIf([at](const auto& one) {
        return at - one.value().last >= delayOf(one.value().count, one.value().free) + ForgetSeconds;
    });
    if (failures_.size() >= MaxTracked)
        failures_.removeIf([](const auto& one) { return one.value().count < one.value().free; });
}
