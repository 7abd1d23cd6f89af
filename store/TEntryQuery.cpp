#include "TEntryQuery.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TXIsamFile.h"

namespace {

constexpr qint64 SecondsPerDay = 86400;

} // namespace

void TEntryQuery::Read(TXIsamFile& entries, const QString& fromKey, const QString& toKey, const TTake& take)
{
    DayEntryRecord entry;
    const bool read = entries.Range(entry.bytes(), DayEntryRecord::StartTimeIndex, fromKey, toKey, [&] {
        take(entry, entries.CurrentKey());
        return true;
    });
    if (!read)
        throw EQuorla(entries.ErrorText());
}

void TEntryQuery::ReadDay(TXIsamFile& entries, const QString& dayKey, const TTake& take)
{
    Read(entries, dayKey, RecordKey::format(RecordKey::parse(dayKey) + SecondsPerDay - 1), take);
}

QSet<QString> TEntryQuery::AlarmedEntries(TXIsamFile& alarms, const QStringList& entryKeys)
{
    QSet<QString> keys;
    AlarmRecord alarm;
    const bool read = alarms.Among(alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKeys, [&] {
        keys.insert(alarm.DayEntryKey());
        return true;
    });
    if (!read && alarms.LastError() != IsamNotFound)
        throw EQuorla(alarms.ErrorText());
    return keys;
}
