#include "TDavBrake.h"

#include "TClock.h"

#include <algorithm>

QString TDavBrake::keyOf(const QString& name, const QString& client)
{
    return name + QLatin1Char('\n') + client;
}

qint64 TDavBrake::delayOf(int count)
{
    if (count < FreeFailures)
        return 0;
    // Doubled up to the cap; the shift stays small.
    const int doublings = std::min(count - FreeFailures, 20);
    return std::min(FirstDelaySeconds << doublings, MaxDelaySeconds);
}

qint64 TDavBrake::now()
{
    return TClock::now().toSecsSinceEpoch();
}

qint64 TDavBrake::Wait(const QString& name, const QString& client) const
{
    if (failures_.isEmpty())
        return 0;
    const auto found = failures_.constFind(keyOf(name, client));
    if (found == failures_.cend() || found->count < FreeFailures)
        return 0;
    return std::max<qint64>(0, found->last + delayOf(found->count) - now());
}

void TDavBrake::Failed(const QString& name, const QString& client)
{
    const qint64 at = now();
    const QString key = keyOf(name, client);
    if (failures_.size() >= MaxTracked && !failures_.contains(key))
        sweep(at);
    TFailures& failures = failures_[key];
    ++failures.count;
    failures.last = at;
}

void TDavBrake::Succeeded(const QString& name, const QString& client)
{
    if (!failures_.isEmpty())
        failures_.remove(keyOf(name, client));
}

void TDavBrake::sweep(qint64 at)
{
    failures_.removeIf([at](const auto& one) {
        return at - one.value().last >= delayOf(one.value().count) + ForgetSeconds;
    });
    if (failures_.size() >= MaxTracked)
        failures_.removeIf([](const auto& one) { return one.value().count < FreeFailures; });
}
