#pragma once

#include "CategoryRecord.h"
#include "TQuorlaCache.h"

// CategoryRecord copies by key, watching the categories dataset.
class TCategoryCache : public TQuorlaCache
{
public:
    // `dataset` is the open categories dataset; it must outlive the cache.
    TCategoryCache(TXIsamFile& dataset, TMachineServices& machine);

    // A key that is not cached throws EQuorlaCache
    // "Unable to locate key (<key>) in category cache".
    void Lookup(const QString& key, std::span<char> record) override;
    void AddRecord(const QString& key, std::span<const char> record) override;

    void Lookup(const QString& key, CategoryRecord& record) { Lookup(key, record.bytes()); }
    void AddRecord(const QString& key, const CategoryRecord& record) { AddRecord(key, record.bytes()); }
};
