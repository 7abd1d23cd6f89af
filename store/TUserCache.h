#pragma once

#include "UserRecord.h"
#include "TQuorlaCache.h"

// UserRecord copies by key, watching the users dataset's file.
class TUserCache : public TQuorlaCache
{
public:
    // `fileName` is the full path of the users dataset's file.
    explicit TUserCache(const QString& fileName);

    // A key that is not cached throws EQuorlaCache
    // "Unable to locate key (<key>) in user cache".
    void Lookup(const QString& key, std::span<char> record) override;
    void AddRecord(const QString& key, std::span<const char> record) override;

    void Lookup(const QString& key, UserRecord& record) { Lookup(key, record.bytes()); }
    void AddRecord(const QString& key, const UserRecord& record) { AddRecord(key, record.bytes()); }
};
