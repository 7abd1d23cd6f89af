#pragma once

#include "UserRecord.h"
#include "TQuorlaCache.h"

// UserRecord copies by key, watching the users dataset.
class TUserCache : public TQuorlaCache
{
public:
    // `dataset` is the open users dataset; it must outlive the cache.
    TUserCache(TXIsamFile& dataset, TMachineServices& machine);

    // A key that is not cached throws EQuorlaCache
    // "Unable to locate key (<key>) in user cache".
    void Lookup(const QString& key, std::span<char> record) override;
    void AddRecord(const QString& key, std::span<const char> record) override;

    void Lookup(const QString& key, UserRecord& record) { Lookup(key, record.bytes()); }
    void AddRecord(const QString& key, const UserRecord& record) { AddRecord(key, record.bytes()); }
};
