#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class DayEntryRecord;
class TXIsamFile;

// The entries of a range of days, in start-time order (entries at the same
// moment in the order of their keys): the one query behind the views' days and
// the report's range, read through the start-time index in one engine call.
// Which of them the reader may see is the caller's test (EntryVisible).
class TEntryQuery
{
public:
    TEntryQuery() = delete;

    using TTake = std::function<void(const DayEntryRecord& entry, const QString& key)>;

    // Every entry whose start time lies from `fromKey` to `toKey`, both time
    // keys included. A failed read throws EQuorla with the dataset's error
    // text; the entries handed over before it stay handed over.
    static void Read(TXIsamFile& entries, const QString& fromKey, const QString& toKey, const TTake& take);

    // The entries of the day that starts at `dayKey`, 00:00:00 to 23:59:59.
    static void ReadDay(TXIsamFile& entries, const QString& dayKey, const TTake& take);

    // Which of `entryKeys` (each given once) have an alarm of any user: one
    // read of the alarms' index on their entry for all of them
    // (TXIsamFile::Among), whatever the number of alarms stored. A failed
    // read throws EQuorla with the dataset's error text.
    static QSet<QString> AlarmedEntries(TXIsamFile& alarms, const QStringList& entryKeys);
};
