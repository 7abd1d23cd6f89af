#include "TStressWorker.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TCategoryWriter.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TStressLog.h"
#include "TXIsamFile.h"

#include <QScopeGuard>
#include <QThread>

namespace {

constexpr qint16 PrimaryIndex = 0;
// Alarms answered in one poll before the worker turns to something else.
constexpr int AnswersPerPoll = 4;

struct StopPoll
{
};

QByteArray bytesOf(std::span<const char> record)
{
    return QByteArray(record.data(), qsizetype(record.size()));
}

QString nowPlus(qint64 seconds)
{
    TStamp stamp;
    stamp.SetNow();
    return RecordKey::format(stamp.Seconds() + seconds);
}

} // namespace

TStressWorker::TStressWorker(int userNumber, int userCount, quint64 seed, TStressLog& log)
    : user_(userNumber), users_(userCount), random_(seed), log_(log),
      database_(std::make_unique<TQuorlaDB>()), alarmDatabase_(std::make_unique<TQuorlaDB>())
{
}

TStressWorker::~TStressWorker() = default;

void TStressWorker::logged(char phase, char dataset, char kind, const QString& key, const QByteArray& bytes)
{
    if (phase == 'B')
        open_ = ++seq_;
    log_.write(phase, open_, command_, dataset, kind, key, bytes);
    if (phase != 'B')
        open_ = -1;
}

void TStressWorker::attach(TEventWriter& writer, TQuorlaDB& database)
{
    writer.OnWrite = [this, &database](const TEventWriter::TWrite& w) {
        const char dataset = w.dataset == &database.DayEntries() ? 'E' : 'A';
        const char kind = "IUD"[w.kind];
        logged(w.failed ? 'F' : w.made ? 'A' : 'B', dataset, kind, w.key, w.bytes);
    };
}

int TStressWorker::run(qint64 until)
{
    int failures = 0;
    while (TStressLog::now() < until) {
        const int pick = int(random_.bounded(100));
        try {
            if (pick < 30)
                newEvent();
            else if (pick < 55)
                changeEvent();
            else if (pick < 68)
                deleteEvent();
            else if (pick < 90)
                pollAlarms();
            else if (pick < 95)
                addCategory();
            else
                renameCategory();
        } catch (const EQuorla& e) {
            ++failures;
            if (open_ >= 0)
                logged('F', '-', '-', QString(), QByteArray());
            log_.note("# error " + command_ + ": " + e.message().toUtf8());
        }
    }
    return failures;
}

QString TStressWorker::randomKey(TXIsamFile& dataset)
{
    const qint64 last = RecordKey::parse(dataset.NextKey()) - 1;
    if (last < 1)
        return QString();
    return RecordKey::format(1 + qint64(random_.bounded(quint64(last))));
}

void TStressWorker::randomEntry(DayEntryRecord& entry, AlarmRecord& alarm)
{
    QStringList assignees;
    const int count = 1 + int(random_.bounded(4));
    while (assignees.size() < count && assignees.size() < users_) {
        const QString key = RecordKey::format(1 + random_.bounded(users_));
        if (!assignees.contains(key))
            assignees << key;
    }
    entry.setAssigneeKeys(assignees);
    entry.setStartTime(nowPlus(qint64(random_.bounded(7200)) - 3600));
    entry.setDescription(QStringLiteral("w%1 %2").arg(user_).arg(seq_));
    // Most alarms are due at once or soon, so that polls find work.
    alarm.setFlags(random_.bounded(5) == 0 ? 0 : AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(nowPlus(qint64(random_.bounded(120)) - 90));
}

void TStressWorker::newEvent()
{
    command_ = "new";
    DayEntryRecord entry;
    database_->InitDayEntryRecord(entry);
    entry.setOwnerKey(RecordKey::format(user_));
    AlarmRecord alarm;
    database_->InitAlarmRecord(alarm);
    randomEntry(entry, alarm);
    TEventWriter writer(*database_);
    attach(writer, *database_);
    writer.insertEntryWithAlarms(entry, alarm);
}

void TStressWorker::changeEvent()
{
    command_ = "props";
    TXIsamFile& entries = database_->DayEntries();
    const QString key = randomKey(entries);
    if (key.isEmpty() || !entries.Lock(key))
        return;
    const auto unlock = qScopeGuard([&] { entries.Unlock(key); });
    DayEntryRecord entry;
    if (!entries.GetEqual(entry.bytes(), PrimaryIndex, key))
        return;
    AlarmRecord alarm;
    database_->InitAlarmRecord(alarm);
    randomEntry(entry, alarm);
    // Someone looks at the editor for a moment while the entry is locked.
    QThread::usleep(random_.bounded(3000));
    TEventWriter writer(*database_);
    attach(writer, *database_);
    writer.updateEntryReplacingAlarms(key, entry, alarm);
}

void TStressWorker::deleteEvent()
{
    command_ = "delete";
    const QString key = randomKey(database_->DayEntries());
    if (key.isEmpty())
        return;
    TEventWriter writer(*database_);
    attach(writer, *database_);
    writer.deleteEntryWithAlarms(key);
}

int TStressWorker::answerAlarm(AlarmRecord& alarm, const QString& key, TQuorlaDB& database)
{
    if (++answered_ > AnswersPerPoll)
        throw StopPoll{};
    const QString alarmKey = key;
    TEventWriter writer(database);
    attach(writer, database);
    DayEntryRecord entry;
    if (!writer.entryExists(alarm, entry)) {
        command_ = "orphan";
        writer.deleteOrphanAlarm(alarmKey, alarm);
        return 2;
    }
    TEventWriter::Result result;
    if (random_.bounded(2) == 0) {
        command_ = "snooze";
        result = writer.snoozeAlarm(alarmKey, alarm, nowPlus(300));
    } else {
        command_ = "off";
        result = writer.switchOffAlarm(alarmKey, alarm);
    }
    // The pop-up would stay open and the person try again later.
    if (result == TEventWriter::Result::AlarmLocked)
        throw StopPoll{};
    return result == TEventWriter::Result::Done ? 1 : 2;
}

void TStressWorker::pollAlarms()
{
    command_ = "poll";
    answered_ = 0;
    TAlarmPoller poller([this](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
        return answerAlarm(alarm, key, database);
    });
    try {
        poller.Poll(*alarmDatabase_, RecordKey::format(user_));
    } catch (const StopPoll&) {
    }
}

void TStressWorker::addCategory()
{
    command_ = "catadd";
    CategoryRecord expected;
    expected.setDescription(QStringLiteral("c%1 %2").arg(user_).arg(seq_ + 1));
    logged('B', 'C', 'I', QString(), bytesOf(expected.bytes()));
    CategoryRecord stored;
    const QString key = TCategoryWriter(database_->Categories()).addCategory(expected.Description(), stored);
    if (key.isEmpty())
        logged('F', 'C', 'I', QString(), QByteArray());
    else
        logged('A', 'C', 'I', key, bytesOf(stored.bytes()));
}

void TStressWorker::renameCategory()
{
    command_ = "catren";
    const QString key = randomKey(database_->Categories());
    if (key.isEmpty())
        return;
    // A category is its description alone, so the renamed record is known
    // before it is written.
    CategoryRecord expected;
    expected.setDescription(QStringLiteral("r%1 %2").arg(user_).arg(seq_ + 1));
    const QString description = expected.Description();
    logged('B', 'C', 'U', key, bytesOf(expected.bytes()));
    CategoryRecord stored;
    bool renamed = false;
    try {
        renamed = TCategoryWriter(database_->Categories()).renameCategory(key, description, stored);
    } catch (const EQuorla&) {
        // A key picked at random that holds no category.
        logged('F', 'C', 'U', key, QByteArray());
        return;
    }
    if (renamed)
        logged('A', 'C', 'U', key, bytesOf(stored.bytes()));
    else
        logged('F', 'C', 'U', key, QByteArray());
}
