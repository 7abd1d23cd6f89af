#include "TResourceParties.h"

#include "TBookingStore.h"
#include "TResourceStore.h"

#include <libical/ical.h>

TResourceParties::TResourceParties(TQuorlaDB& database, const QString& identity)
    : database_(database), identity_(identity)
{
    TResourceStore store(database_);
    if (!store.Available())
        return;
    for (const TResourceStore::TResource& one : store.All())
        resources_.insert(one.key, {one.key, one.name, one.IsRoom()});
}

QString TResourceParties::AddressOf(const QString& resourceKey) const
{
    return QStringLiteral("urn:x-quorla:%1:resource:%2").arg(identity_, resourceKey);
}

std::optional<TResourceParties::TResource> TResourceParties::Addressed(const QString& address) const
{
    const QString prefix = AddressOf(QString());
    if (!address.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    return Find(address.mid(prefix.size()));
}

std::optional<TResourceParties::TResource> TResourceParties::Find(const QString& resourceKey) const
{
    const auto found = resources_.constFind(resourceKey);
    if (found == resources_.cend())
        return std::nullopt;
    return *found;
}

std::optional<TResourceParties::TResource> TResourceParties::Named(const QString& address, const QString& name) const
{
    if (std::optional<TResource> found = Addressed(address))
        return found;
    for (const TResource& one : resources_)
        if (!name.isEmpty() && one.name.compare(name, Qt::CaseInsensitive) == 0)
            return one;
    return std::nullopt;
}

void TResourceParties::Read(const QStringList& entryKeys)
{
    booked_.clear();
    read_ = QSet<QString>(entryKeys.cbegin(), entryKeys.cend());
    if (resources_.isEmpty() || entryKeys.isEmpty())
        return;
    for (const TBookingStore::TBooking& booking : TBookingStore(database_).OfEntries(entryKeys))
        booked_[booking.entry].append(booking.resource);
    for (QStringList& keys : booked_) {
        keys.sort();
        keys.removeDuplicates();
    }
}

QStringList TResourceParties::Of(const QString& entryKey)
{
    if (resources_.isEmpty())
        return {};
    if (!read_.contains(entryKey)) {
        QStringList keys;
        for (const TBookingStore::TBooking& booking : TBookingStore(database_).OfEntry(entryKey))
            keys << booking.resource;
        keys.sort();
        keys.removeDuplicates();
        return keys;
    }
    return booked_.value(entryKey);
}

icalproperty* TResourceParties::Attendee(const QString& resourceKey) const
{
    const TResource resource = Find(resourceKey).value_or(TResource{resourceKey, QString(), false});
    icalproperty* attendee = icalproperty_new_attendee(AddressOf(resourceKey).toUtf8().constData());
    if (!resource.name.isEmpty())
        icalproperty_add_parameter(attendee, icalparameter_new_cn(resource.name.toUtf8().constData()));
    icalproperty_add_parameter(attendee, icalparameter_new_cutype(resource.room ? ICAL_CUTYPE_ROOM : ICAL_CUTYPE_RESOURCE));
    icalproperty_add_parameter(attendee, icalparameter_new_role(ICAL_ROLE_NONPARTICIPANT));
    return attendee;
}

QString TResourceParties::Location(const TEntryDetails& details, const QStringList& booked) const
{
    if (!details.location.isEmpty())
        return details.location;
    QStringList rooms;
    for (const QString& key : booked)
        if (const std::optional<TResource> resource = Find(key); resource && resource->room)
            rooms << resource->name;
    return rooms.join(QStringLiteral(", "));
}
