#include "TCategoryCache.h"

TCategoryCache::TCategoryCache(TXIsamFile& dataset, TMachineServices& machine)
    : TQuorlaCache(CategoryRecord::Size, dataset, machine)
{
}

void TCategoryCache::Lookup(const QString& key, std::span<char> record)
{
    lookupCopy(key, record, "category");
}

void TCategoryCache::AddRecord(const QString& key, std::span<const char> record)
{
    addCopy(key, record);
}
