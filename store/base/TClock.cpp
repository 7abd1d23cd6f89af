#include "TClock.h"

#include <utility>

namespace {
std::function<QDateTime()>& overrideSource()
{
    static std::function<QDateTime()> source;
    return source;
}
}

QDateTime TClock::now()
{
    const auto& source = overrideSource();
    return source ? source() : QDateTime::currentDateTime();
}

void TClock::setOverride(std::function<QDateTime()> source)
{
    overrideSource() = std::move(source);
}
