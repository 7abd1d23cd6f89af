#include "TResourceWriter.h"

#include "BookingRecord.h"
#include "EQuorla.h"
#include "ResourceRecord.h"
#include "TBookingStore.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TCommandScope.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TXIsamFile.h"

namespace {

ResourceRecord recordOf(const TResourceStore::TResource& resource)
{
    ResourceRecord record;
    record.setName(resource.name);
    record.setDescription(resource.description);
    using Kind = TResourceStore::Kind;
    record.setFlags((resource.bookable ? ResourceRecord::Bookable : 0)
                    | (resource.kind == Kind::Room    ? ResourceRecord::KindRoom
                       : resource.kind == Kind::Other ? ResourceRecord::KindOther
                                                      : 0));
    return record;
}

QString summaryOf(const TResourceStore::TResource& resource)
{
    using Kind = TResourceStore::Kind;
    return TChangeSummary::Quoted(resource.name, 40)
        + (resource.kind == Kind::Room    ? QStringLiteral(", a room")
           : resource.kind == Kind::Other ? QStringLiteral(", not a room")
                                          : QString())
        + (resource.bookable ? QString() : QStringLiteral(", not bookable"));
}

TXIsamFile& resources(TQuorlaDB& database)
{
    if (!database.Resources())
        throw EQuorla(QStringLiteral("Unable to keep resources: this database has no %1.").arg(ResourceRecord::FileName));
    return *database.Resources();
}

} // namespace

TResourceWriter::TResourceWriter(TQuorlaDB& database) : OnWrite(writer_.OnWrite), database_(database) {}

bool TResourceWriter::taken(const QString& name, const QString& key)
{
    const std::optional<TResourceStore::TResource> named = TResourceStore(database_).Named(name);
    return named && named->key != key;
}

TResourceWriter::Result TResourceWriter::Add(TResourceStore::TResource& resource)
{
    const ResourceRecord record = recordOf(resource);
    TXIsamFile& dataset = resources(database_);
    if (taken(resource.name, QString()))
        return Result::NameTaken;
    const TCommandScope command(database_);
    resource.key = writer_.insert(dataset, record.bytes());
    database_.Trail().Record({TChangeTrail::Action::ResourceAdded, &dataset, resource.key,
                              TChangeTrail::ResourceSubject(resource.key), summaryOf(resource)});
    return Result::Done;
}

TResourceWriter::Result TResourceWriter::Change(const TResourceStore::TResource& resource)
{
    ResourceRecord record = recordOf(resource);
    TXIsamFile& dataset = resources(database_);
    const TRecordLock lock(dataset, resource.key);
    if (!lock.Held())
        return Result::Locked;
    ResourceRecord stored;
    if (!TLookup::Equal(dataset, stored.bytes(), TXIsamFile::PrimaryIndex, resource.key))
        return Result::Gone;
    if (taken(resource.name, resource.key))
        return Result::NameTaken;
    if (resource.kind == TResourceStore::Kind::Unset)
        record.setFlags(record.Flags() | (stored.Flags() & (ResourceRecord::KindRoom | ResourceRecord::KindOther)));
    const TCommandScope command(database_);
    writer_.update(dataset, resource.key, record.bytes());
    database_.Trail().Record({TChangeTrail::Action::ResourceChanged, &dataset, resource.key,
                              TChangeTrail::ResourceSubject(resource.key),
                              TChangeSummary::Quoted(stored.Name(), 40) + QStringLiteral(" → ") + summaryOf(resource)});
    return Result::Done;
}

TResourceWriter::Result TResourceWriter::Delete(const QString& key)
{
    TXIsamFile& dataset = resources(database_);
    const TRecordLock lock(dataset, key);
    if (!lock.Held())
        return Result::Locked;
    ResourceRecord stored;
    if (!TLookup::Equal(dataset, stored.bytes(), TXIsamFile::PrimaryIndex, key))
        return Result::Gone;
    QList<TXIsamFile::TBatchWrite> writes;
    for (const TBookingStore::TBooking& booking :
         TBookingStore(database_).OfResource(key, QStringLiteral("0000000000"), QStringLiteral("9999999999")))
        writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Remove, booking.key, QByteArray()};
    const TCommandScope command(database_);
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Bookings(), writes);
    writer_.remove(dataset, key, stored.bytes());
    database_.Trail().Record({TChangeTrail::Action::ResourceDeleted, &dataset, key, TChangeTrail::ResourceSubject(key),
                              QStringLiteral("%1; %2 bookings taken back")
                                  .arg(TChangeSummary::Quoted(stored.Name(), 40))
                                  .arg(writes.size())});
    return Result::Done;
}
