#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include "UserRecord.h"

#include <functional>
#include <memory>
#include <optional>

class TResourceParties;

class TQuorlaDB;
struct TDavReply;
struct icalcomponent_impl;
typedef struct icalcomponent_impl icalcomponent;

// When the office's people and resources are busy, as CalDAV clients ask it
// for their attendee dialogs: the free-busy-query REPORT on a calendar
// (RFC 4791 7.10) and a VFREEBUSY request POSTed to the asker's scheduling
// outbox (RFC 6638), answered at once for each recipient. Busy time never
// carries text: a private entry is busy like any other, whoever asks.
//
// A person is busy during each entry he is assigned to, as TBusyTimes
// reads it (un-timed days in the office's zone). Overlapping and touching
// times are given as one period.
//
// A resource (a room, a projector) is busy during its bookings; its
// principal is /dav/principals/resource-<KEY>/ (no user name is that long).
//
// Calendar users are named by the address the feed gives them,
// urn:x-quorla:<database>:user:<KEY> or :resource:<KEY>, or by their
// principal's path or URL.
class TDavSchedule
{
public:
    // Someone whose time is asked for.
    struct TWho
    {
        QString key;
        QString name;     // the principal's last part: the user name, or resource-<KEY>
        QString fullName; // the CN: his full name, the resource's name
        enum class Kind { Person, Room, Resource };
        Kind kind = Kind::Person;
    };
    // Busy from .first to .second, seconds since 1970 UTC.
    using TPeriods = QList<QPair<qint64, qint64>>;

    // Asked by `asker` (stored under `askerKey`) of the database whose
    // identity is `identity`; `momentOf` turns the office's wall-clock
    // seconds (of `zone`) into UTC seconds.
    TDavSchedule(TQuorlaDB& database, const UserRecord& asker, const QString& askerKey, const QString& identity,
                 const QTimeZone& zone, std::function<qint64(qint64)> momentOf);

    // The principal of a person or a resource.
    static QString PrincipalPath(const TWho& who);
    // The address of `who` in ORGANIZER, ATTENDEE and the principal's
    // calendar-user-address-set.
    QString AddressOf(const TWho& who) const;
    // The user of this name; nothing when there is none.
    std::optional<TWho> Person(const QString& name);
    // The resource of a principal's last part (resource-<KEY>); nothing when
    // there is none.
    std::optional<TWho> Resource(const QString& name);
    static QString ResourceName(const QString& resourceKey);
    // Whoever `address` names (one of his addresses, the principal's path or
    // its URL); nothing when nobody.
    std::optional<TWho> Addressed(const QString& address);

    // The periods `who` is busy within startUtc..endUtc, cut to it, in time
    // order, none touching another.
    TPeriods Busy(const TWho& who, qint64 startUtc, qint64 endUtc);
    static TPeriods Merged(TPeriods periods);
    // The free-busy-query's answer: a calendar of one VFREEBUSY.
    TDavReply FreeBusyReport(const TWho& who, qint64 startUtc, qint64 endUtc);
    // The answer to a POST to `asker`'s outbox.
    TDavReply OutboxPost(const TWho& asker, const QByteArray& body);

private:
    // One recipient's <response>: his busy time over the request's range, or
    // why there is none.
    QByteArray recipientResponse(const QString& address, icalcomponent* request);

    TResourceParties& parties();

    TQuorlaDB& database_;
    std::shared_ptr<TResourceParties> parties_;
    UserRecord asker_;
    QString askerKey_;
    QString identity_;
    QTimeZone zone_;
    std::function<qint64(qint64)> momentOf_;
};
