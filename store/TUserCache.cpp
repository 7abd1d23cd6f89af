#include "TUserCache.h"

TUserCache::TUserCache(const QString& fileName)
    : TQuorlaCache(UserRecord::Size, fileName)
{
}

void TUserCache::Lookup(const QString& key, std::span<char> record)
{
    lookupCopy(key, record, "user");
}

void TUserCache::AddRecord(const QString& key, std::span<const char> record)
{
    addCopy(key, record);
}
