#include "DetailRecord.h"

#include "RecordKey.h"
#include "TTextCapacity.h"

namespace {

constexpr qint64 Day = 86400;

// The pieces of `utf8`, each at most `bytes` long and none cutting a
// character (a piece ends before a continuation byte).
QList<QByteArray> pieces(const QByteArray& utf8, int bytes)
{
    QList<QByteArray> out;
    qsizetype from = 0;
    while (from < utf8.size()) {
        qsizetype end = std::min(utf8.size(), from + bytes);
        while (end < utf8.size() && end > from && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        out << utf8.mid(from, end - from);
        from = end;
    }
    return out;
}

} // namespace

void DetailRecords::Check(const TEntryDetails& details)
{
    if (!TTextCapacity::fits(details.location, TEntryDetails::MaxLocationBytes))
        throw ETextTooLong(TTextCapacity::tooLongMessage(QStringLiteral("location"), details.location,
                                                         TEntryDetails::MaxLocationBytes));
    if (!TTextCapacity::fits(details.notes, TEntryDetails::MaxNotesBytes))
        throw ETextTooLong(
            TTextCapacity::tooLongMessage(QStringLiteral("notes"), details.notes, TEntryDetails::MaxNotesBytes));
    if (details.durationSeconds < 0 || details.durationSeconds > qint64(TEntryDetails::MaxDays) * Day
        || details.days > TEntryDetails::MaxDays)
        throw ETextTooLong(QStringLiteral("An event may last at most %1 days.").arg(TEntryDetails::MaxDays));
}

qint64 DetailRecords::LastDayAt(const TEntryDetails& details, qint64 start, bool unTimed)
{
    const qint64 day = start - start % Day;
    if (unTimed)
        return day + qint64(std::max(details.days, 1) - 1) * Day;
    if (details.durationSeconds > 0)
        return (start + details.durationSeconds - 1) / Day * Day;
    return day;
}

QString DetailRecords::LastDay(const TEntryDetails& details, const QString& start, bool unTimed)
{
    const qint64 at = RecordKey::parse(start);
    const qint64 last = LastDayAt(details, at, unTimed);
    return last <= at - at % Day ? QString() : RecordKey::format(last);
}

int DetailRecords::Span(const TEntryDetails& details)
{
    return int(std::max<qint64>(details.days - 1, (qint64(details.durationSeconds) + Day - 1) / Day));
}

QString DetailRecords::Reach(const TEntryDetails& details, const QString& start, bool unTimed, bool series)
{
    const QString last = LastDay(details, start, unTimed);
    if (last.isEmpty())
        return {};
    const qint64 at = RecordKey::parse(start);
    const bool far = RecordKey::parse(last) - (at - at % Day) > qint64(DetailRecord::ShortReachDays) * Day;
    return series || far ? QString(DetailRecord::ReachesOn) : last;
}

QList<DetailRecord> DetailRecords::Split(const QString& owner, const TEntryDetails& details, const QString& start,
                                         bool unTimed, bool series)
{
    Check(details);
    DetailRecord head;
    head.setDuration(details.durationSeconds);
    head.setDays(std::max(details.days, 1));
    head.setReach(Reach(details, start, unTimed, series));
    head.setBody(details.location, "location");
    QList<DetailRecord> records{head};
    for (const QByteArray& piece : pieces(details.notes.toUtf8(), DetailRecord::BodyBytes)) {
        DetailRecord part;
        part.setOf(DetailRecord::of(owner, int(records.size())));
        part.setBody(QString::fromUtf8(piece), "notes");
        records << part;
    }
    records[0].setOf(DetailRecord::of(owner, 0));
    records[0].setParts(qint32(records.size() - 1));
    return records;
}

TEntryDetails DetailRecords::HeadOnly(const DetailRecord& head)
{
    TEntryDetails details;
    details.durationSeconds = head.Duration();
    details.days = std::max(head.Days(), 1);
    details.location = head.Body();
    return details;
}

TEntryDetails DetailRecords::Join(const QList<DetailRecord>& records)
{
    if (records.isEmpty() || records.first().Part() != 0)
        return {};
    TEntryDetails details = HeadOnly(records.first());
    // Only a whole set of parts: the notes as written, or none.
    if (records.size() - 1 != records.first().Parts())
        return details;
    for (qsizetype i = 1; i < records.size(); ++i)
        details.notes += records[i].Body();
    return details;
}
