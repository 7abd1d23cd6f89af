#include "TStressWorker.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "ETextTooLong.h"
#include "TCategoryWriter.h"
#include "TLookup.h"
#include "TRecordLock.h"
#include "TTextCapacity.h"
#include "TUserRemoval.h"
#include "TUserWriter.h"
#include "UserRecord.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TStressLog.h"
#include "TXIsamFile.h"

#include <optional>
#include <QThread>

namespace {

// Alarms answered in one poll before the worker turns to something else.
constexpr int AnswersPerPoll = 4;

struct StopPoll
{
};

// Letters and signs of one to four bytes of UTF-8, so that texts meet their
// field's capacity in every way a character can.
const QStringList Pieces = {QStringLiteral("a"), QStringLiteral("Z"), QStringLiteral(" "), QStringLiteral("é"),
                            QStringLiteral("Ö"), QStringLiteral("ß"), QStringLiteral("€"), QStringLiteral("→"),
                            QStringLiteral("😀")};

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
    database_->SetActingUser(RecordKey::format(user_));
    alarmDatabase_->SetActingUser(RecordKey::format(user_));
}

TStressWorker::~TStressWorker() = default;

void TStressWorker::logged(char phase, char dataset, char kind, const QString& key, const QByteArray& bytes,
                           const QString& text)
{
    if (phase == 'B')
        open_ = ++seq_;
    log_.write(phase, open_, command_, dataset, kind, key, bytes, text);
    if (phase != 'B')
        open_ = -1;
}

void TStressWorker::attach(std::function<void(const TRecordWriter::TWrite&)>& onWrite, TQuorlaDB& database)
{
    onWrite = [this, &database](const TRecordWriter::TWrite& w) {
        const char dataset = w.dataset == &database.DayEntries() ? 'E'
            : w.dataset == &database.Alarms()                    ? 'A'
            : w.dataset == &database.Users()                     ? 'U'
                                                                 : 'C';
        const char kind = "IUD"[w.kind];
        // Entries carry the description typed; alarms the description of the
        // entry they are made for, so that the checker sees any alarm that
        // ends up on another entry.
        const bool texted = ((dataset == 'E' || dataset == 'C') && w.kind != TRecordWriter::TWrite::Delete)
            || (dataset == 'A' && w.kind == TRecordWriter::TWrite::Insert);
        logged(w.failed ? 'F' : w.made ? 'A' : 'B', dataset, kind, w.key, w.bytes,
               texted ? text_ : QString());
    };
}

int TStressWorker::run(qint64 until)
{
    int failures = 0;
    while (TStressLog::now() < until) {
        const int pick = int(random_.bounded(100));
        text_.clear();
        try {
            if (pick < 28)
                newEvent();
            else if (pick < 50)
                changeEvent();
            else if (pick < 62)
                deleteEvent();
            else if (pick < 84)
                pollAlarms();
            else if (pick < 90)
                addCategory();
            else if (pick < 94)
                renameCategory();
            else if (pick < 97)
                deleteCategory();
            else
                removeUser();
            // The command is over: every change it made has its trail record.
            log_.write('K', seq_, command_, '-', '-', QString(), QByteArray());
        } catch (const EQuorla& e) {
            ++failures;
            if (open_ >= 0)
                logged('F', '-', '-', QString(), QByteArray());
            log_.write('X', seq_, command_, '-', '-', QString(), QByteArray());
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

QString TStressWorker::randomText(int capacity)
{
    // Mostly up to the capacity, often right at it; one in eight past it.
    const int goal = random_.bounded(8) == 0 ? capacity + 1 + int(random_.bounded(4)) : 1 + int(random_.bounded(capacity));
    QString text = QStringLiteral("w%1 %2 ").arg(user_).arg(seq_);
    while (TTextCapacity::bytes(text) < goal)
        text += Pieces[int(random_.bounded(Pieces.size()))];
    return text;
}

bool TStressWorker::randomEntry(DayEntryRecord& entry, AlarmRecord& alarm)
{
    QStringList assignees;
    const int count = 1 + int(random_.bounded(4));
    for (int tries = 0; assignees.size() < count && tries < 20; ++tries) {
        // Any user key ever given out: some are users removed meanwhile.
        const QString key = randomKey(database_->Users());
        if (!key.isEmpty() && !assignees.contains(key))
            assignees << key;
    }
    entry.setAssigneeKeys(assignees);
    // Now and then an entry owned by someone else, for the delete-user pass.
    if (random_.bounded(4) == 0) {
        const QString owner = randomKey(database_->Users());
        if (!owner.isEmpty())
            entry.setOwnerKey(owner);
    }
    const QString category = random_.bounded(3) == 0 ? randomKey(database_->Categories()) : QString();
    entry.setCategoryKey(category.isEmpty() ? QString(RecordKey::None) : category);
    entry.setStartTime(nowPlus(qint64(random_.bounded(7200)) - 3600));
    // Most alarms are due at once or soon, so that polls find work.
    alarm.setFlags(random_.bounded(5) == 0 ? 0 : AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(nowPlus(qint64(random_.bounded(120)) - 90));
    const QString description = randomText(DayEntryRecord::DescriptionCapacity);
    const QString before = entry.Description();
    try {
        entry.setDescription(description);
    } catch (const ETextTooLong&) {
        if (TTextCapacity::fits(description, DayEntryRecord::DescriptionCapacity) || entry.Description() != before)
            log_.note("# fault a description that fits was refused, or a refused one changed the record");
        return false;
    }
    if (!TTextCapacity::fits(description, DayEntryRecord::DescriptionCapacity))
        log_.note("# fault a description longer than its field was taken");
    text_ = description;
    return true;
}

void TStressWorker::newEvent()
{
    command_ = "new";
    DayEntryRecord entry;
    database_->InitDayEntryRecord(entry);
    entry.setOwnerKey(RecordKey::format(user_));
    AlarmRecord alarm;
    database_->InitAlarmRecord(alarm);
    if (!randomEntry(entry, alarm))
        return;
    TEventWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    writer.insertEntryWithAlarms(entry, alarm);
}

void TStressWorker::changeEvent()
{
    command_ = "props";
    const QString key = randomKey(database_->DayEntries());
    if (key.isEmpty())
        return;
    TEventWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    std::optional<TRecordLock> lock;
    DayEntryRecord entry;
    AlarmRecord alarm;
    bool hadAlarm = false;
    if (writer.openEntry(key, lock, entry, alarm, hadAlarm) != TEventWriter::Result::Done) {
        // Refused while another worker has it open: its note names it.
        if (!writer.LockHolder().isEmpty())
            log_.note("# named " + writer.LockHolder().toUtf8());
        return;
    }
    const QString opened = hadAlarm ? alarm.AlarmTime() : QString();
    database_->InitAlarmRecord(alarm);
    if (!randomEntry(entry, alarm))
        return;
    // Half the edits of an entry with an alarm leave its time alone, and so
    // keep each assignee's alarm as it stands.
    if (!opened.isEmpty() && (alarm.Flags() & AlarmRecord::AlarmWanted) != 0) {
        if (random_.bounded(2) == 0) {
            command_ = "keep";
            alarm.setAlarmTime(opened);
        } else if (alarm.AlarmTime() == opened) {
            alarm.setAlarmTime(RecordKey::format(RecordKey::parse(opened) + 1));
        }
    }
    // Someone looks at the editor for a moment while the entry is locked.
    QThread::usleep(random_.bounded(3000));
    writer.updateEntryWithAlarms(key, entry, alarm, opened);
}

void TStressWorker::deleteEvent()
{
    command_ = "delete";
    const QString key = randomKey(database_->DayEntries());
    if (key.isEmpty())
        return;
    // What the screen showed; by the time Delete is confirmed it may have
    // changed elsewhere, and then it must stay.
    DayEntryRecord shown;
    if (!TLookup::Equal(database_->DayEntries(), shown.bytes(), TXIsamFile::PrimaryIndex, key))
        return;
    QThread::usleep(random_.bounded(2000));
    TEventWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    writer.deleteEntryWithAlarms(key, shown.Description());
}

int TStressWorker::answerAlarm(AlarmRecord& alarm, const QString& key, TQuorlaDB& database)
{
    if (++answered_ > AnswersPerPoll)
        throw StopPoll{};
    const QString alarmKey = key;
    TEventWriter writer(database);
    attach(writer.OnWrite, database);
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
    const QString description = randomText(CategoryRecord::DescriptionCapacity);
    TCategoryWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    text_ = description;
    CategoryRecord stored;
    try {
        writer.addCategory(description, stored);
    } catch (const ETextTooLong&) {
        if (TTextCapacity::fits(description, CategoryRecord::DescriptionCapacity))
            log_.note("# fault a category that fits was refused");
        return;
    }
    if (!TTextCapacity::fits(description, CategoryRecord::DescriptionCapacity))
        log_.note("# fault a category longer than its field was taken");
}

void TStressWorker::renameCategory()
{
    command_ = "catren";
    const QString key = randomKey(database_->Categories());
    if (key.isEmpty())
        return;
    CategoryRecord probe;
    QString description = randomText(CategoryRecord::DescriptionCapacity);
    if (!TTextCapacity::fits(description, CategoryRecord::DescriptionCapacity))
        description = TTextCapacity::cut(description, CategoryRecord::DescriptionCapacity);
    TCategoryWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    text_ = description;
    CategoryRecord stored;
    try {
        writer.renameCategory(key, description, stored);
    } catch (const EQuorla&) {
        // A key picked at random that holds no category.
        if (TLookup::Equal(database_->Categories(), probe.bytes(), TXIsamFile::PrimaryIndex, key))
            throw;
    }
}

void TStressWorker::deleteCategory()
{
    command_ = "catdel";
    const QString key = randomKey(database_->Categories());
    CategoryRecord category;
    if (key.isEmpty() || !TLookup::Equal(database_->Categories(), category.bytes(), TXIsamFile::PrimaryIndex, key))
        return;
    TCategoryWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    writer.deleteCategory(key);
}

void TStressWorker::removeUser()
{
    // Each worker removes only the users it added (named G<worker>-...), so
    // that the workers themselves stay; a removal cut by a kill is found and
    // finished by the worker's next removal.
    command_ = "deluser";
    const QString prefix = QStringLiteral("G%1-").arg(user_);
    TXIsamFile& users = database_->Users();
    UserRecord user;
    QString victim;
    users.Rewind(TXIsamFile::PrimaryIndex);
    while (TLookup::Next(users, user.bytes(), TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        if (user.UserName().startsWith(prefix)) {
            victim = users.CurrentKey();
            break;
        }
    }
    if (!victim.isEmpty()) {
        TUserRemoval::TChoices choices;
        choices.deleteOwned = random_.bounded(2) == 0;
        choices.newOwner = RecordKey::format(user_);
        choices.deleteAssigned = random_.bounded(2) == 0;
        choices.newAssignee = RecordKey::format(user_);
        TUserRemoval removal(*database_, victim, choices);
        attach(removal.OnWrite, *database_);
        removal.run();
    }
    command_ = "useradd";
    user.clear();
    user.setUserName(prefix + QString::number(seq_ % 100000));
    user.setFullName(QStringLiteral("Guest of %1").arg(user_));
    user.setAbbreviation(QStringLiteral("G%1").arg(user_));
    user.setRights(UserRecord::CanAddEntries);
    TUserWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    QString key;
    writer.addUser(user, key);
}
