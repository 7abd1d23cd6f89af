#pragma once

#include "TEntryDetails.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class TQuorlaDB;
struct icalproperty_impl;
typedef struct icalproperty_impl icalproperty;

// The resources an event books, as other calendars are shown them: each an
// ATTENDEE whose address is urn:x-quorla:<database>:resource:<KEY>, CN its
// name, CUTYPE=ROOM for a room and RESOURCE for anything else, ROLE
// NON-PARTICIPANT; and the rooms' names (", " between them) as the event's
// LOCATION where it has no place of its own. Which resources are rooms the
// resources say (TResourceStore::TResource::IsRoom). The feed and the CalDAV
// objects both write them so.
class TResourceParties
{
public:
    struct TResource
    {
        QString key;
        QString name;
        bool room = false;
    };

    // Reads the resources of the database whose identity is `identity`.
    TResourceParties(TQuorlaDB& database, const QString& identity);

    QString AddressOf(const QString& resourceKey) const;
    // The resource an address names, from a CalDAV client or a file.
    std::optional<TResource> Addressed(const QString& address) const;
    std::optional<TResource> Find(const QString& resourceKey) const;
    // The resource an ATTENDEE of another calendar names: by its address,
    // else by its CN `name` as a resource's name (case aside).
    std::optional<TResource> Named(const QString& address, const QString& name) const;

    // Reads the bookings of `entryKeys` at once, in place of those read
    // before; an entry outside them is read alone.
    void Read(const QStringList& entryKeys);
    // The resources entry `entryKey` books, in key order.
    QStringList Of(const QString& entryKey);

    // The ATTENDEE of a resource; the caller frees it.
    icalproperty* Attendee(const QString& resourceKey) const;
    // What an event shows as its place: its own, else the rooms it books.
    QString Location(const TEntryDetails& details, const QStringList& booked) const;

private:
    TQuorlaDB& database_;
    QString identity_;
    QHash<QString, TResource> resources_;
    QHash<QString, QStringList> booked_;
    QSet<QString> read_;
};
