#pragma once

#include <QString>
#include <QStringList>

class TDatabaseLocation;

// The stress run's proof of the booking rule: no two bookings of one
// resource share a moment, ever. Checked twice over the database as the run
// left it: through the store's own reader of the bookings, and
// independently of it in the engine's own language - SQL over the folder's
// bookings file, or over the server's bookings table - so that a fault of
// the reader cannot hide one of the writer.
namespace TStressBookingCheck {

// Adds a line to `faults` for each overlap found; answers a summary line.
QString Check(const TDatabaseLocation& database, const QString& folder, QStringList& faults);

} // namespace TStressBookingCheck
