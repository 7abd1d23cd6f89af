#include "TResourceStore.h"

#include "ResourceRecord.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

TResourceStore::TResource resourceOf(const QString& key, const ResourceRecord& record)
{
    using Kind = TResourceStore::Kind;
    const qint32 flags = record.Flags();
    const Kind kind = (flags & ResourceRecord::KindRoom)    ? Kind::Room
        : (flags & ResourceRecord::KindOther)               ? Kind::Other
                                                            : Kind::Unset;
    return {key, record.Name(), record.Description(), record.IsBookable(), kind};
}

} // namespace

bool TResourceStore::TResource::IsRoom() const
{
    if (kind != Kind::Unset)
        return kind == Kind::Room;
    static const QRegularExpression word(QStringLiteral("\\broom\\b"), QRegularExpression::CaseInsensitiveOption);
    return word.match(name).hasMatch() || word.match(description).hasMatch();
}

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
