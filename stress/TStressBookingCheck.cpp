#include "TStressBookingCheck.h"

#include "BookingRecord.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "RecordKey.h"
#include "TDatabaseLocation.h"
#include "TXIsamFile.h"

#include <QFile>
#include <QMap>

#include <sqlite3.h>

#include <algorithm>

namespace {

// Overlapping pairs of bookings of one resource, as the engine itself counts
// them from the records' bytes: resource at 1, start at 11, entry at 22, end
// at 44 (SQL counts from 1). A series' note (no entry) books no time.
QByteArray overlapsSql(const QByteArray& table, const QByteArray& part)
{
    const auto field = [&](const char* row, int from, int width) {
        return part + "(" + row + ".data, " + QByteArray::number(from) + ", " + QByteArray::number(width) + ")";
    };
    return "SELECT count(*) FROM " + table + " a JOIN " + table + " b ON " + field("a", 1, 10) + " = "
        + field("b", 1, 10) + " AND a.pk < b.pk AND " + field("a", 11, 10) + " < " + field("b", 44, 10) + " AND "
        + field("b", 11, 10) + " < " + field("a", 44, 10) + " WHERE " + field("a", 22, 10) + " <> "
        + field("b", 22, 10) + " AND " + field("a", 22, 10) + " <> '0000000000' AND "
        + field("b", 22, 10) + " <> '0000000000'";
}

qint64 countInFolder(const QString& path, QString& error)
{
    sqlite3* db = nullptr;
    qint64 count = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt* st = nullptr;
        // Blob bytes compared as text: substr of a blob is a blob.
        const QByteArray sql = overlapsSql("records", "CAST(substr");
        QByteArray fixed = sql;
        fixed.replace(", 10)", ", 10) AS TEXT)");
        if (sqlite3_prepare_v2(db, fixed.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            count = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    if (count < 0)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_close_v2(db);
    return count;
}

qint64 countOnServer(const TDatabaseLocation& database, QString& error)
{
    PostgresConnection connection(database.Path().toUtf8());
    PostgresConnection::Result result;
    QByteArray sql = overlapsSql("qlbook", "encode(substring");
    sql.replace(", 1, 10)", " from 1 for 10), 'escape')")
        .replace(", 11, 10)", " from 11 for 10), 'escape')")
        .replace(", 22, 10)", " from 22 for 10), 'escape')")
        .replace(", 44, 10)", " from 44 for 10), 'escape')");
    if (connection.exec({}, sql, nullptr, 0, result) != IsamOk || result.rows() != 1) {
        error = connection.reason();
        return -1;
    }
    return result.number(0, 0);
}

// The same through the store's reader: each resource's bookings in start
// order, each against the latest end before it.
int countByReader(const TDatabaseLocation& database, int& bookings, QStringList& faults)
{
    TXIsamFile file;
    if (!file.Open(database.DatasetName(BookingRecord::FileName))) {
        faults << QStringLiteral("%1: cannot be opened: %2").arg(BookingRecord::FileName, file.ErrorText());
        return 0;
    }
    BookingRecord record;
    QMap<QString, QList<BookingRecord>> byResource;
    file.Range(record.bytes(), BookingRecord::SlotIndex, RecordKey::format(0), QString(21, QLatin1Char('9')), [&] {
        if (!RecordKey::isNone(record.Entry()))
            byResource[record.Resource()] << record;
        return true;
    });
    int overlaps = 0;
    for (const QList<BookingRecord>& list : byResource) {
        bookings += int(list.size());
        for (qsizetype i = 1; i < list.size(); ++i)
            for (qsizetype j = 0; j < i; ++j)
                if (list[j].End() > list[i].Start() && list[j].Entry() != list[i].Entry()) {
                    ++overlaps;
                    faults << QStringLiteral("resource %1 booked twice: entry %2 from %3 to %4 and entry %5 from %6")
                                  .arg(list[i].Resource(), list[j].Entry(), list[j].Start(), list[j].End(),
                                       list[i].Entry(), list[i].Start());
                }
    }
    return overlaps;
}

} // namespace

QString TStressBookingCheck::Check(const TDatabaseLocation& database, const QString& folder, QStringList& faults)
{
    int bookings = 0;
    const int byReader = countByReader(database, bookings, faults);
    QString error;
    const qint64 bySql = database.IsServer() ? countOnServer(database, error)
                                             : countInFolder(folder + BookingRecord::FileName, error);
    if (bySql < 0)
        faults << QStringLiteral("bookings: the independent check failed: %1").arg(error);
    else if (bySql > 0)
        faults << QStringLiteral("bookings: SQL finds %1 overlapping pairs").arg(bySql);
    return QStringLiteral("bookings: %1, overlapping pairs by the reader %2, by SQL %3").arg(bookings).arg(byReader).arg(bySql);
}
