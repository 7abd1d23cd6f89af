#include "TQuorlaCache.h"

#include "EQuorlaCache.h"
#include "TLookup.h"
#include "TMachineServices.h"
#include "TXIsamFile.h"

#include <algorithm>

TQuorlaCache::TQuorlaCache(qsizetype recordSize, TXIsamFile& dataset, TMachineServices& machine)
    : dataset_(dataset), machine_(machine), recordSize_(recordSize)
{
    Q_ASSERT(recordSize > 0);
}

TQuorlaCache::~TQuorlaCache() = default;

void TQuorlaCache::Clear()
{
    keys_.clear();
    records_.clear();
}

bool TQuorlaCache::Changed()
{
    for (int attempt = 0; attempt < MissingFileAttempts; ++attempt) {
        QByteArray now;
        if (dataset_.ChangeMark(now)) {
            if (mark_ == now)
                return false;
            mark_ = now;
            return true;
        }
        machine_.sleep(MissingFileWaitMs);
    }
    return true;
}

void TQuorlaCache::Reload()
{
    if (!OnUpdate)
        throw EQuorlaCache(QStringLiteral("No event handler to update cache"));
    Clear();
    OnUpdate(*this);
}

void TQuorlaCache::FillFrom(TXIsamFile& dataset)
{
    std::vector<char> buffer(static_cast<std::size_t>(recordSize_));
    // A read that fails part-way fails the load, and the next look-up loads
    // again: a cache missing some records would call existing users unknown.
    try {
        TLookup::Each(dataset, buffer, [&](const QString& key) { AddRecord(key, buffer); });
    } catch (const EQuorla& e) {
        mark_.reset();
        throw EQuorlaCache(e.message());
    }
}

void TQuorlaCache::addCopy(const QString& key, std::span<const char> record)
{
    Q_ASSERT(qsizetype(record.size()) >= recordSize_);
    // Loaders add in key order, so the new key nearly always goes at the end.
    auto at = keys_.end();
    if (!keys_.empty() && !(keys_.back() < key))
        at = std::lower_bound(keys_.begin(), keys_.end(), key);
    if (at != keys_.end() && *at == key)
        throw EQuorlaCache(QStringLiteral("Unable to add cache entry, possible duplicate key"));

    const auto index = at - keys_.begin();
    const auto size = std::min(qsizetype(record.size()), recordSize_);
    std::vector<char> copy(static_cast<std::size_t>(recordSize_), '\0');
    std::copy_n(record.begin(), size, copy.begin());
    records_.insert(records_.begin() + index * recordSize_, copy.begin(), copy.end());
    keys_.insert(at, key);
}

void TQuorlaCache::lookupCopy(const QString& key, std::span<char> record, const char* cacheName)
{
    Q_ASSERT(qsizetype(record.size()) >= recordSize_);
    if (Changed())
        Reload();
    const auto at = std::lower_bound(keys_.begin(), keys_.end(), key);
    if (at == keys_.end() || *at != key)
        throw EQuorlaCache(QStringLiteral("Unable to locate key (") + key + QStringLiteral(") in ") +
                           QLatin1String(cacheName) + QStringLiteral(" cache"));
    const auto index = at - keys_.begin();
    const auto size = std::min(qsizetype(record.size()), recordSize_);
    std::copy_n(records_.begin() + index * recordSize_, size, record.begin());
}
