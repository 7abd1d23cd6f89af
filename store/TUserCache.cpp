#include "TUserCache.h"

TUserCache::TUserCache(TXIsamFile& dataset, TMachineServices& machine)
    : TQuorlaCache(UserRecord::Size, dataset, machine)
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
