#pragma once

#include <QByteArray>
#include <QString>

class TQuorlaDB;

// The resources and bookings datasets (ResourceRecord, BookingRecord) on a
// PostgreSQL server:
// - the bookings' table itself refuses two bookings of one resource whose
//   times overlap: an exclusion constraint over the resource and the
//   booking's half-open time range (btree_gist; a series' note of its
//   resources, which names no entry, books no time), so that no road into the
//   database - two workstations at the same moment, a program that knows
//   nothing of bookings - can store them;
// - a deleted entry takes its bookings along in the statement that deletes
//   it, whoever deletes it;
// - where users are server roles (TServerRoles): resources are read by
//   everybody and changed by administrators, as categories are; a booking is
//   read by everybody (that a room is taken is no secret: the entry's text
//   stays behind the entry's own policy) and written by whoever may change
//   its entry.
namespace TServerBookings {

// The name of the exclusion constraint, which a refused write names.
inline constexpr const char* OverlapConstraint = "quorla_booking_overlap";

// The statements of the guard (constraint, columns, trigger), for the schema
// `schema` (quoted); the bookings' table must exist. With `roles` the row
// policies of both tables too; `series` when the series' table exists
// (a series' note of the resources it books is written by whoever may
// change the series).
QByteArray Sql(const QByteArray& schema, bool roles, bool series = false);

// Sets the guard up on `database`'s server where its bookings' table lacks
// it (a table this session has just made, or one made before); answers an
// empty text when it stands, else why it does not (the server's reason: the
// extension btree_gist cannot be created, or the session does not own the
// table). Nothing for a folder.
QString Ensure(TQuorlaDB& database);

} // namespace TServerBookings
