#include "TResourceStore.h"

#include "ResourceRecord.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <algorithm>

namespace {

TResourceStore::TResource resourceOf(const QString& key, const ResourceRecord& record)
{
    return {key, record.Name(), record.Description(), record.IsBookable()};
}

} // namespace

TResourceStore::TResourceStore(TQuorlaDB& database) : database_(database) {}

bool TResourceStore::Available() const
{
    return database_.Resources() != nullptr;
}

QList<TResourceStore::TResource> TResourceStore::All()
{
    QList<TResource> all;
    TXIsamFile* resources = database_.Resources();
    if (!resources)
        return all;
    ResourceRecord record;
    TLookup::Each(*resources, record.bytes(), [&](const QString& key) { all << resourceOf(key, record); });
    std::sort(all.begin(), all.end(), [](const TResource& a, const TResource& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return all;
}

std::optional<TResourceStore::TResource> TResourceStore::Find(const QString& key)
{
    TXIsamFile* resources = database_.Resources();
    ResourceRecord record;
    if (!resources || !TLookup::Equal(*resources, record.bytes(), TXIsamFile::PrimaryIndex, key))
        return std::nullopt;
    return resourceOf(key, record);
}

std::optional<TResourceStore::TResource> TResourceStore::Named(const QString& name)
{
    TXIsamFile* resources = database_.Resources();
    ResourceRecord record;
    if (!resources || name.isEmpty()
        || !TLookup::Equal(*resources, record.bytes(), ResourceRecord::NameIndex, name))
        return std::nullopt;
    return resourceOf(resources->CurrentKey(), record);
}
