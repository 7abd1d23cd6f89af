#pragma once

#include <QByteArray>

// The details dataset (DetailRecord) on a PostgreSQL server whose users are
// server roles (TServerRoles), set up with the rest of the roles:
// - a row is read by whoever reads its entry (or series): the row policy
//   looks the entry up under the reader's own policies, so a private
//   entry's place and notes are read by those who read the entry alone;
// - a row is added, changed and removed by whoever may change its entry (or
//   series): its owner, or with the right to change others' entries;
// - every row's head names an entry or a series ("E" or "S", ten digits,
//   three digits of the part) and its last day is a time key or none;
// - a deleted entry or series takes its details along in the statement
//   that deletes it, whoever deletes it (also a program that knows no
//   details, and a removal by marking the row, which the server carries
//   out as a delete).
// The change trail records no details: a trail record of an entry carries
// nothing of its place or notes.
namespace TServerDetails {

// The statements, for the schema `schema` (quoted); the details' table
// must exist, and with `series` the series' table too.
QByteArray Sql(const QByteArray& schema, bool series);

} // namespace TServerDetails
