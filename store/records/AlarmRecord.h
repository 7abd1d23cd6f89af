#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>

// One pending alarm of one user for one calendar event, a record of the alarms
// dataset. Secondary indexes: 2 on `AlarmTime` (all alarms in time order),
// 3 on `DayEntryKey` (the alarms of an entry), 5 on `UserAlarmKey` (one user's
// alarms in time order).
//
// `UserAlarmKey` must always be `UserKey` followed by `AlarmTime`. The setters
// do not keep it so by themselves; whoever changes `UserKey` or `AlarmTime`
// calls rebuildUserAlarmKey() before writing the record.
class AlarmRecord : public TRecordBuffer<58>
{
public:
    static constexpr QLatin1StringView FileName{"QLAlarms.Ism"};
    static constexpr QLatin1StringView Format{"&,X$*11,X$*11,$*11,X$*21"};

    // `Flags` of every stored alarm.
    static constexpr qint32 AlarmWanted = 1;

    static constexpr std::size_t FlagsOffset = 0;
    static constexpr std::size_t FlagsWidth = 4;
    static constexpr std::size_t AlarmTimeOffset = 4;
    static constexpr std::size_t AlarmTimeWidth = 11;
    static constexpr std::size_t DayEntryKeyOffset = 15;
    static constexpr std::size_t DayEntryKeyWidth = 11;
    static constexpr std::size_t UserKeyOffset = 26;
    static constexpr std::size_t UserKeyWidth = 11;
    static constexpr std::size_t UserAlarmKeyOffset = 37;
    static constexpr std::size_t UserAlarmKeyWidth = 21;

    // Secondary indexes: all alarms in time order; the alarms of an entry;
    // one user's alarms in time order.
    static constexpr qint16 AlarmTimeIndex = 2;
    static constexpr qint16 DayEntryKeyIndex = 3;
    static constexpr qint16 UserAlarmIndex = 5;

    qint32 Flags() const;
    void setFlags(qint32 flags);

    // The time key at which the alarm fires.
    QString AlarmTime() const;
    void setAlarmTime(const QString& key);

    // The day entry the alarm belongs to.
    QString DayEntryKey() const;
    void setDayEntryKey(const QString& key);

    // The user to be alerted.
    QString UserKey() const;
    void setUserKey(const QString& key);

    QString UserAlarmKey() const;
    void setUserAlarmKey(const QString& key);

    // Sets `UserAlarmKey` to `UserKey` immediately followed by `AlarmTime`.
    void rebuildUserAlarmKey();
};

static_assert(AlarmRecord::UserAlarmKeyOffset + AlarmRecord::UserAlarmKeyWidth == AlarmRecord::Size);
