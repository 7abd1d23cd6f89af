#include "TKeyMarks.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QStringList>

#include <algorithm>
#include <functional>

namespace {

void fail(const TXIsamFile& dataset)
{
    throw EQuorlaDB(QStringLiteral("Unable to prepare the keys of new records\r\r") + dataset.ErrorText());
}

// One dataset's mark and the largest key found referring into it.
struct TMark
{
    TXIsamFile& dataset;
    bool missing = false;
    qint64 referred = 0;

    void refer(const QString& key) { referred = std::max(referred, RecordKey::parse(key)); }
};

// Every record of `dataset` in key order, read into `record`.
void scan(TXIsamFile& dataset, std::span<char> record, const std::function<void()>& take)
{
    if (!dataset.Rewind(TXIsamFile::PrimaryIndex))
        fail(dataset);
    while (dataset.Get(record, TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext))
        take();
    if (dataset.LastError() != IsamNotFound)
        fail(dataset);
}

// The largest key `dataset` holds or held, as its next key tells.
qint64 largestHeld(TXIsamFile& dataset)
{
    const QString next = dataset.NextKey();
    if (next.isEmpty())
        fail(dataset);
    return RecordKey::parse(next) - 1;
}

void raise(TXIsamFile& dataset, qint64 to)
{
    if (!dataset.RaiseKeyMark(RecordKey::format(std::max<qint64>(to, 0))))
        fail(dataset);
}

} // namespace

void TKeyMarks::Seed(TQuorlaDB& database)
{
    TMark users{database.Users()};
    TMark categories{database.Categories()};
    TMark entries{database.DayEntries()};
    for (TMark* mark : {&users, &categories, &entries}) {
        QString stored;
        if (!mark->dataset.KeyMark(stored))
            fail(mark->dataset);
        mark->missing = stored.isEmpty();
    }

    if (users.missing || categories.missing) {
        DayEntryRecord entry;
        scan(entries.dataset, entry.bytes(), [&] {
            users.refer(entry.OwnerKey());
            for (const QString& assignee : entry.AssigneeKeys())
                users.refer(assignee);
            categories.refer(entry.CategoryKey());
        });
    }
    AlarmRecord alarm;
    TXIsamFile& alarms = database.Alarms();
    if (users.missing || entries.missing) {
        scan(alarms, alarm.bytes(), [&] {
            users.refer(alarm.UserKey());
            entries.refer(alarm.DayEntryKey());
        });
    } else {
        // Only alarms naming a key at or above the entries' next one matter:
        // one look-up on their entry index, which finds none in a database
        // kept by this program.
        const QString next = RecordKey::format(largestHeld(entries.dataset) + 1);
        if (!alarms.Range(alarm.bytes(), AlarmRecord::DayEntryKeyIndex, next, QString(10, QLatin1Char('9')), [&] {
                entries.refer(alarm.DayEntryKey());
                return true;
            }))
            fail(alarms);
    }

    for (TMark* mark : {&users, &categories, &entries}) {
        if (!mark->missing && mark->referred == 0)
            continue;
        const qint64 held = largestHeld(mark->dataset);
        if (mark->missing || mark->referred > held)
            raise(mark->dataset, std::max(held, mark->referred));
    }
}
