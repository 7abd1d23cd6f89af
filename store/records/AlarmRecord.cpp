#include "AlarmRecord.h"

qint32 AlarmRecord::Flags() const
{
    return int32(FlagsOffset);
}

void AlarmRecord::setFlags(qint32 flags)
{
    setInt32(FlagsOffset, flags);
}

QString AlarmRecord::AlarmTime() const
{
    return text(AlarmTimeOffset, AlarmTimeWidth);
}

void AlarmRecord::setAlarmTime(const QString& key)
{
    setText(AlarmTimeOffset, AlarmTimeWidth, key, "alarm time");
}

QString AlarmRecord::DayEntryKey() const
{
    return text(DayEntryKeyOffset, DayEntryKeyWidth);
}

void AlarmRecord::setDayEntryKey(const QString& key)
{
    setText(DayEntryKeyOffset, DayEntryKeyWidth, key, "entry key");
}

QString AlarmRecord::UserKey() const
{
    return text(UserKeyOffset, UserKeyWidth);
}

void AlarmRecord::setUserKey(const QString& key)
{
    setText(UserKeyOffset, UserKeyWidth, key, "user key");
}

QString AlarmRecord::UserAlarmKey() const
{
    return text(UserAlarmKeyOffset, UserAlarmKeyWidth);
}

void AlarmRecord::setUserAlarmKey(const QString& key)
{
    setText(UserAlarmKeyOffset, UserAlarmKeyWidth, key, "user and time key");
}

void AlarmRecord::rebuildUserAlarmKey()
{
    setUserAlarmKey(UserKey() + AlarmTime());
}
