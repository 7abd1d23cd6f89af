#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>

// One change made through the store's writers, a record of the change trail:
// what was done (`Action`), when, by which user on which workstation, to which
// record (`Dataset` and `Key`), the record whose history it belongs to
// (`Subject`: "E" and an entry's key - also for that entry's alarms -, "U" and
// a user's, "C" and a category's, "S" and a repeating event's) and a short
// readable `Summary`.
//
// Indexes: 3 `Newest`, the inverted time followed by the inverted primary key,
// so that a forward read gives the latest changes first; 5 `UserNewest`, the
// user's key followed by the same, for one user's latest changes; 9 `Subject`,
// the history of one record in the order it was written.
//
// The last bytes of the summary's field, past the end the summary now keeps
// to, hold the writer's offset from UTC at the change ("+0100": the zone
// `When` is a local time of). Programs that know nothing of it read the
// summary up to its end and pass them over; their own records leave them
// empty (a field is zeroed past its text).
//
// The record under key 0000000000 holds the trail's own setting (the days it
// keeps, in `Key`); its index values lie after every change's.
class TrailRecord : public TRecordBuffer<340>
{
public:
    static constexpr QLatin1StringView FileName{"QLTrail.Ism"};
    static constexpr QLatin1StringView Format{"&,$*11,X$*21,$*11,X$*31,$*65,$*13,$*11,X$*12,$*161"};

    static constexpr std::size_t ActionOffset = 0;
    static constexpr std::size_t WhenOffset = 4;
    static constexpr std::size_t NewestOffset = 15;
    static constexpr std::size_t UserKeyOffset = 36;
    static constexpr std::size_t UserNewestOffset = 47;
    static constexpr std::size_t WorkstationOffset = 78;
    static constexpr std::size_t WorkstationWidth = 65;
    static constexpr std::size_t DatasetOffset = 143;
    static constexpr std::size_t DatasetWidth = 13;
    static constexpr std::size_t KeyOffset = 156;
    static constexpr std::size_t SubjectOffset = 167;
    static constexpr std::size_t SubjectWidth = 12;
    static constexpr std::size_t SummaryOffset = 179;
    static constexpr std::size_t SummaryWidth = 161;
    static constexpr std::size_t UtcOffsetWidth = 6;
    static constexpr std::size_t UtcOffsetOffset = SummaryOffset + SummaryWidth - UtcOffsetWidth;

    static constexpr qint16 NewestIndex = 3;
    static constexpr qint16 UserNewestIndex = 5;
    static constexpr qint16 SubjectIndex = 9;

    static constexpr int WorkstationCapacity = WorkstationWidth - 1;
    static constexpr int SummaryCapacity = SummaryWidth - UtcOffsetWidth - 1;

    // The key of the setting record, and the index value that sorts it after
    // every change.
    static constexpr QLatin1StringView SettingKey{"0000000000"};
    static constexpr QLatin1StringView AfterAll{"~"};

    qint32 Action() const { return int32(ActionOffset); }
    void setAction(qint32 action) { setInt32(ActionOffset, action); }
    // Time key (TStamp seconds) of the change.
    QString When() const { return text(WhenOffset, 11); }
    QString UserKey() const { return text(UserKeyOffset, 11); }
    QString Workstation() const { return text(WorkstationOffset, WorkstationWidth); }
    QString Dataset() const { return text(DatasetOffset, DatasetWidth); }
    QString Key() const { return text(KeyOffset, 11); }
    QString Subject() const { return text(SubjectOffset, SubjectWidth); }
    QString Summary() const { return text(SummaryOffset, SummaryWidth); }
    QString Newest() const { return text(NewestOffset, 21); }
    // The writer's offset from UTC in seconds; unset in an older program's
    // record.
    std::optional<int> UtcOffset() const;
    QString UserNewest() const { return text(UserNewestOffset, 31); }

    // Sets the time and the user and, from them and the record's own primary
    // key, both ordering fields.
    void setMoment(qint64 seconds, const QString& userKey, const QString& primaryKey);
    void setWorkstation(const QString& host) { setText(WorkstationOffset, WorkstationWidth, host, "workstation"); }
    void setTarget(const QString& dataset, const QString& key, const QString& subject);
    void setSummary(const QString& summary)
    {
        setText(SummaryOffset, SummaryWidth - UtcOffsetWidth, summary, "summary");
    }
    // Whole minutes are kept.
    void setUtcOffset(int seconds);

    // The setting record: `Key` holds the days kept.
    void makeSetting(int days);

    // 9999999999 minus `number`, as ten digits: larger numbers sort first.
    static QString inverted(qint64 number);
};

static_assert(TrailRecord::SummaryOffset + TrailRecord::SummaryWidth == TrailRecord::Size);
