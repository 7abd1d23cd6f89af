#pragma once

#include "TEntryDetails.h"
#include "TRecordBuffer.h"

#include <QList>
#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>

// A record of the details dataset ("QLDetail.Ism"), which keeps what an entry
// or a series' template carries beyond its day entry (TEntryDetails). Every
// record names what it belongs to and its part in `Of` (index 1): "E" and the
// entry's key, or "S" and the series' key, then three digits, "000" for the
// head and 001 onwards for the notes' parts. So the heads of many entries are
// one look-up of exact values, and an entry's records one range.
//
// The head carries the length, the days, the number of notes' parts and the
// location in `Body`; each part carries the next piece of the notes in `Body`
// (at most BodyBytes of UTF-8, never cutting a character). `Reach` (index 5)
// is, in a head only, the day key of the last day the entry reaches when that
// is past its own start day by at most ShortReachDays (empty when it ends on
// its start day): the entries that began before the days a view shows and
// reach into them are one short range of that index, from the first day shown
// ShortReachDays on. A head that reaches further, and a series' head that
// reaches past its day (its occurrences may lie on any day), hold ReachesOn:
// those few are looked at one by one.
class DetailRecord : public TRecordBuffer<294>
{
public:
    static constexpr QLatin1StringView FileName{"QLDetail.Ism"};
    static constexpr QLatin1StringView Format{"X$*15,&,&,&,X$*11,$*256"};

    static constexpr std::size_t OfOffset = 0;
    static constexpr std::size_t DurationOffset = 15;
    static constexpr std::size_t DaysOffset = 19;
    static constexpr std::size_t PartsOffset = 23;
    static constexpr std::size_t ReachOffset = 27;
    static constexpr std::size_t BodyOffset = 38;
    static constexpr std::size_t BodyWidth = 256;
    static constexpr int BodyBytes = int(BodyWidth) - 1;

    static constexpr qint16 OfIndex = 1;
    static constexpr qint16 ReachIndex = 5;

    static constexpr QLatin1StringView ReachesOn{"9999999999"};
    static constexpr int ShortReachDays = 7;
    static constexpr QLatin1Char EntryMark{'E'};
    static constexpr QLatin1Char SeriesMark{'S'};

    // What `Of` names without its part: "E0000000042".
    static QString owner(QLatin1Char mark, const QString& key) { return mark + key; }
    // The `Of` value of `owner`'s head (number 0) or of its notes' piece number `part`.
    static QString of(const QString& owner, int part)
    {
        return owner + QString::number(part).rightJustified(3, QLatin1Char('0'));
    }

    QString Of() const { return text(OfOffset, 15); }
    void setOf(const QString& value) { setText(OfOffset, 15, value, "detail owner"); }
    QString Owner() const { return Of().left(11); }
    int Part() const { return Of().mid(11).toInt(); }
    qint32 Duration() const { return int32(DurationOffset); }
    void setDuration(qint32 seconds) { setInt32(DurationOffset, seconds); }
    qint32 Days() const { return int32(DaysOffset); }
    void setDays(qint32 days) { setInt32(DaysOffset, days); }
    qint32 Parts() const { return int32(PartsOffset); }
    void setParts(qint32 parts) { setInt32(PartsOffset, parts); }
    QString Reach() const { return text(ReachOffset, 11); }
    void setReach(const QString& dayKey) { setText(ReachOffset, 11, dayKey, "reach"); }
    QString Body() const { return text(BodyOffset, BodyWidth); }
    void setBody(const QString& value, const char* what) { setText(BodyOffset, BodyWidth, value, what); }
};

static_assert(DetailRecord::BodyOffset + DetailRecord::BodyWidth == DetailRecord::Size);

// Between TEntryDetails and the records that keep them.
namespace DetailRecords {

// The records of `owner`'s details for an entry (or template) starting at
// time key `start`: the head, then the notes' parts. A location or notes too
// long, or a span past TEntryDetails::MaxDays, throws ETextTooLong naming it.
// `series`: the template of a series, whose head reaches on any day when it
// spans days.
QList<DetailRecord> Split(const QString& owner, const TEntryDetails& details, const QString& start, bool unTimed,
                          bool series);
// Refuses details that cannot be kept (as Split does), before anything
// is written.
void Check(const TEntryDetails& details);
// The details a head and its parts (in part order, the head first) keep.
TEntryDetails Join(const QList<DetailRecord>& records);
// The head's details without the notes.
TEntryDetails HeadOnly(const DetailRecord& head);
// The day key of the last day an entry starting at `start` reaches, when past
// its start's day; empty otherwise.
QString LastDay(const TEntryDetails& details, const QString& start, bool unTimed);
// The same as the number of that day's key (RecordKey::parse), `start` given
// so too; its start's day when it reaches no further.
qint64 LastDayAt(const TEntryDetails& details, qint64 start, bool unTimed);
// The most days past its start's day an entry, or an occurrence of a
// template, with `details` reaches.
int Span(const TEntryDetails& details);
// What a head's `Reach` holds for an entry (or template) starting at `start`:
// its LastDay, or ReachesOn for a template or past ShortReachDays.
QString Reach(const TEntryDetails& details, const QString& start, bool unTimed, bool series);

} // namespace DetailRecords
