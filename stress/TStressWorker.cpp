#include "TStressWorker.h"
#include "TBookingWriter.h"
#include "TStressRunner.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "ETextTooLong.h"
#include "TCategoryWriter.h"
#include "TClock.h"
#include "TLookup.h"
#include "TOutageWatch.h"
#include "TRecordLock.h"
#include "TTextCapacity.h"
#include "TUserRemoval.h"
#include "TUserWriter.h"
#include "UserRecord.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TStressLog.h"
#include "TXIsamFile.h"

#include <QDate>

#include <algorithm>
#include <optional>
#include <QThread>

namespace {

// Alarms answered in one poll before the worker turns to something else.
constexpr int AnswersPerPoll = 4;

// While the server is out of reach the program tries it again at its next
// alarm poll (10 s) at the latest, not in a loop: a worker waits before its
// next command too, from a quarter of a second up to the poll's interval.
constexpr qint64 FirstOutagePauseMs = 250;
constexpr qint64 LongestOutagePauseMs = 10'000;

struct StopPoll
{
};

// Letters and signs of one to four bytes of UTF-8, so that texts meet their
// field's capacity in every way a character can.
const QStringList Pieces = {QStringLiteral("a"), QStringLiteral("Z"), QStringLiteral(" "), QStringLiteral("é"),
                            QStringLiteral("Ö"), QStringLiteral("ß"), QStringLiteral("€"), QStringLiteral("→"),
                            QStringLiteral("😀")};

using Scope = TSeriesWriter::Scope;

QDate dayOfKey(const QString& key)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(key)));
    return QDate(stamp.Year(), stamp.Month(), stamp.Day());
}

QString nowPlus(qint64 seconds)
{
    TStamp stamp;
    stamp.SetNow();
    return RecordKey::format(stamp.Seconds() + seconds);
}

} // namespace

TStressWorker::TStressWorker(const TConnect& connect, int userNumber, int userCount, quint64 seed, TStressLog& log)
    : user_(userNumber), users_(userCount), random_(seed), log_(log), database_(connect()), alarmDatabase_(connect())
{
    database_->SetActingUser(RecordKey::format(user_));
    alarmDatabase_->SetActingUser(RecordKey::format(user_));
    // The user's rights as the program reads them at log-in.
    UserRecord me;
    if (!TLookup::Equal(database_->Users(), me.bytes(), TXIsamFile::PrimaryIndex, RecordKey::format(user_)))
        throw EQuorla(QStringLiteral("no user %1: %2").arg(user_).arg(database_->Users().ErrorText()));
    rights_ = me.Rights();
}

bool TStressWorker::mayChange(const QString& owner) const
{
    return owner == RecordKey::format(user_) || (rights_ & UserRecord::CanModifyOthersEntries) != 0;
}

bool TStressWorker::administers() const
{
    return (rights_ & UserRecord::CanAdminister) != 0;
}

TStressWorker::~TStressWorker() = default;

void TStressWorker::logged(char phase, char dataset, char kind, const QString& key, const QByteArray& bytes,
                           const QString& text)
{
    qint64 seq = -1;
    if (phase == 'A') {
        away_ = false;
        outagePause_ = 0;
    }
    if (phase == 'B') {
        seq = ++seq_;
        open_ << TOpen{seq, dataset, kind, key};
    } else {
        // The outcome of the first open write of its dataset and kind under
        // its key (or under none yet: an insert under the next key); a batch
        // tells its outcomes in the order it told its writes.
        for (qsizetype i = 0; i < open_.size(); ++i) {
            const TOpen& w = open_[i];
            if (w.dataset == dataset && w.kind == kind && (w.key.isEmpty() || w.key == key)) {
                seq = open_.takeAt(i).seq;
                break;
            }
        }
    }
    log_.write(phase, seq, command_, dataset, kind, key, bytes, text);
}

void TStressWorker::closeOpen()
{
    for (const TOpen& w : std::exchange(open_, {}))
        log_.write('F', w.seq, command_, w.dataset, w.kind, w.key, QByteArray());
}

void TStressWorker::attach(std::function<void(const TRecordWriter::TWrite&)>& onWrite, TQuorlaDB& database)
{
    onWrite = [this, &database](const TRecordWriter::TWrite& w) {
        const char dataset = w.dataset == &database.DayEntries() ? 'E'
            : w.dataset == &database.Alarms()                    ? 'A'
            : w.dataset == &database.Users()                     ? 'U'
            : w.dataset == database.Series()                     ? 'S'
            : w.dataset == database.SeriesLinks()                ? 'L'
            : w.dataset == database.Bookings()                   ? 'B'
            : w.dataset == database.Details()                    ? 'N'
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
            if (pick < 22)
                newEvent();
            else if (pick < 40)
                changeEvent();
            else if (pick < 50)
                deleteEvent();
            else if (pick < 70)
                pollAlarms();
            else if (pick < 78)
                newSeries();
            else if (pick < 88)
                changeSeries();
            else if (pick < 93)
                addCategory();
            else if (pick < 96)
                renameCategory();
            else if (pick < 98)
                deleteCategory();
            else
                removeUser();
            closeOpen();
            // The command is over: every change it made has its trail record.
            log_.write('K', seq_, command_, '-', '-', QString(), QByteArray());
        } catch (const TBookingWriter::ERefused& e) {
            // The rule at work, not a failure: nothing was written.
            closeOpen();
            log_.write('K', seq_, command_, '-', '-', QString(), QByteArray());
            log_.note("# refused " + command_ + ": " + e.message().toUtf8());
        } catch (const EQuorla& e) {
            ++failures;
            closeOpen();
            log_.write('X', seq_, command_, '-', '-', QString(), QByteArray());
            log_.note("# error " + command_ + ": " + e.message().toUtf8());
            away_ = away_ || TOutageWatch::IsOutage(e.message());
        }
        // A command that found nothing to read ends well too: only a write
        // answered ends the outage.
        if (away_)
            waitOutOutage(until);
    }
    return failures;
}

void TStressWorker::waitOutOutage(qint64 until)
{
    outagePause_ = std::clamp(outagePause_ * 2, FirstOutagePauseMs, LongestOutagePauseMs);
    const qint64 left = (until - TStressLog::now()) / 1'000'000;
    QThread::msleep(quint64(std::clamp<qint64>(left, 0, outagePause_)));
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
    // Now and then an entry owned by someone else, for the delete-user pass:
    // an administrator's (whom the server lets add and change anyone's).
    if (administers() && random_.bounded(4) == 0) {
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
    // A third book a room for up to an hour: near now, among a few rooms,
    // many meet another's booking and are refused.
    if (random_.bounded(3) != 0) {
        writer.insertEntryWithAlarms(entry, alarm);
        return;
    }
    TEntryDetails length;
    length.durationSeconds = 60 * (5 + int(random_.bounded(55)));
    entry.setFlags(entry.Flags() & ~DayEntryRecord::UnTimed);
    writer.insertEntryWithAlarms(entry, alarm, {}, length,
                                 {RecordKey::format(1 + random_.bounded(TStressRunner::Rooms))});
}

void TStressWorker::changeEvent()
{
    command_ = "props";
    const QString key = randomKey(database_->DayEntries());
    DayEntryRecord shown;
    // Properties is offered for an entry the user may change only.
    if (key.isEmpty() || !TLookup::Equal(database_->DayEntries(), shown.bytes(), TXIsamFile::PrimaryIndex, key)
        || !mayChange(shown.OwnerKey()))
        return;
    // An occurrence asks which: this one (an exception from then on), this
    // and following, or all of its series.
    TSeriesWriter series(*database_);
    SeriesLinkRecord link;
    const bool occurrence = series.LinkOf(key, link);
    if (occurrence && random_.bounded(2) == 0) {
        changeSeries(series, link, random_.bounded(2) == 0 ? Scope::All : Scope::ThisAndFollowing);
        return;
    }
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
    if (!occurrence) {
        writer.updateEntryWithAlarms(key, entry, alarm, opened);
        return;
    }
    attach(series.OnWrite, *database_);
    const TSeriesWriter::Result result = series.ChangeOne(key, entry, alarm, opened).result;
    if (result == TSeriesWriter::Result::NotInSeries)
        log_.note("# occurrence " + key.toLatin1() + " left its series while open");
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
    if (!TLookup::Equal(database_->DayEntries(), shown.bytes(), TXIsamFile::PrimaryIndex, key)
        || !mayChange(shown.OwnerKey()))
        return;
    // The three-way question is an occurrence's confirmation.
    TSeriesWriter series(*database_);
    SeriesLinkRecord link;
    if (series.LinkOf(key, link)) {
        const int pick = int(random_.bounded(4));
        deleteSeries(series, link, pick < 2 ? Scope::ThisOne : pick == 2 ? Scope::ThisAndFollowing : Scope::All);
        return;
    }
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
    // The poll's own extension of repeating events is logged as "poll".
    attach(poller.OnSeriesWrite, *alarmDatabase_);
    try {
        poller.Poll(*alarmDatabase_, RecordKey::format(user_));
    } catch (const StopPoll&) {
    }
}

void TStressWorker::addCategory()
{
    if (!administers())
        return;
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
    if (!administers())
        return;
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
    if (!administers())
        return;
    command_ = "catdel";
    const QString key = randomKey(database_->Categories());
    CategoryRecord category;
    if (key.isEmpty() || !TLookup::Equal(database_->Categories(), category.bytes(), TXIsamFile::PrimaryIndex, key))
        return;
    // What a deletion cut short may leave on occurrences.
    log_.write('V', seq_, command_, 'C', '-', key, QByteArray());
    TCategoryWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    writer.deleteCategory(key);
}

void TStressWorker::removeUser()
{
    if (!administers())
        return;
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
        // Whose alarms and occurrences a removal cut short may leave behind.
        log_.write('V', seq_, command_, 'U', '-', victim, QByteArray());
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

TRecurrenceRule TStressWorker::randomRule(const QDate& near)
{
    TRecurrenceRule rule;
    rule.setStart(near.addDays(qint64(random_.bounded(30)) - 20));
    if (random_.bounded(5) != 0)
        rule.setTime(QTime(6 + int(random_.bounded(14)), 15 * int(random_.bounded(4))));
    rule.setInterval(random_.bounded(3) == 0 ? 2 + int(random_.bounded(3)) : 1);
    // Every end, but no more than a few dozen occurrences within the
    // horizon, so that the workers do many commands rather than a few big ones.
    switch (random_.bounded(10)) {
    case 0:
    case 1:
    case 2:
        rule.setFrequency(TRecurrenceRule::Frequency::Daily);
        if (random_.bounded(2) == 0)
            rule.setCount(1 + int(random_.bounded(30)));
        else
            rule.setUntil(rule.Start().addDays(qint64(random_.bounded(45))));
        return rule;
    case 3:
    case 4:
    case 5:
    case 6:
        rule.setFrequency(TRecurrenceRule::Frequency::Weekly);
        if (random_.bounded(2) == 0)
            rule.setWeekdays(TRecurrenceRule::weekdayBit(1 + int(random_.bounded(7)))
                             | TRecurrenceRule::weekdayBit(1 + int(random_.bounded(7))));
        break;
    case 7:
    case 8:
        rule.setFrequency(TRecurrenceRule::Frequency::Monthly);
        // On the start's day of the month (now and then a 29th to 31st, which
        // some months lack), or on the 1st to 4th or last weekday.
        if (random_.bounded(2) == 0) {
            const int week = int(random_.bounded(5));
            rule.setMonthlyWeek(week == 0 ? -1 : week);
        } else if (random_.bounded(3) == 0) {
            const QDate start = rule.Start();
            rule.setStart(QDate(start.year(), start.month(), std::min(29 + int(random_.bounded(3)), start.daysInMonth())));
        }
        break;
    default:
        rule.setFrequency(TRecurrenceRule::Frequency::Yearly);
        break;
    }
    switch (random_.bounded(3)) {
    case 0:
        rule.setCount(1 + int(random_.bounded(20)));
        break;
    case 1:
        rule.setUntil(rule.Start().addDays(qint64(random_.bounded(200))));
        break;
    default:
        break;
    }
    return rule;
}

void TStressWorker::randomTemplate(SeriesRecord& series)
{
    DayEntryRecord entry;
    database_->InitDayEntryRecord(entry);
    entry.setOwnerKey(RecordKey::format(user_));
    AlarmRecord alarm;
    database_->InitAlarmRecord(alarm);
    QString description = randomText(DayEntryRecord::DescriptionCapacity);
    if (!TTextCapacity::fits(description, DayEntryRecord::DescriptionCapacity))
        description = TTextCapacity::cut(description, DayEntryRecord::DescriptionCapacity);
    randomEntry(entry, alarm);
    series.initialise();
    series.setFlags((random_.bounded(5) == 0 ? SeriesRecord::Private : 0)
                    | (random_.bounded(5) != 0 ? SeriesRecord::AlarmWanted : 0));
    series.setOwnerKey(entry.OwnerKey());
    series.setCategoryKey(entry.CategoryKey());
    series.setDescription(description);
    series.setAssigneeKeys(entry.AssigneeKeys());
    // Most alarms ring before the occurrence, some at its start.
    series.setAlarmOffset(random_.bounded(4) == 0 ? 0 : qint32(random_.bounded(7200)));
    text_.clear();
}

void TStressWorker::seriesDone(const TSeriesWriter::TOutcome& outcome, char action, const QString& key)
{
    for (const TSeriesWriter::THeld& held : outcome.held)
        log_.write('H', seq_, command_, 'E', '-', held.entryKey, QByteArray());
    if (outcome.result == TSeriesWriter::Result::Done)
        log_.write('T', seq_, command_, 'S', action, key, QByteArray());
}

void TStressWorker::newSeries()
{
    command_ = "sernew";
    SeriesRecord series;
    randomTemplate(series);
    // Its owner is the person who adds it.
    series.setOwnerKey(RecordKey::format(user_));
    const QDate today = TClock::now().date();
    series.setRule(randomRule(today));
    TSeriesWriter writer(*database_);
    attach(writer.OnWrite, *database_);
    // Now and then made as on an earlier day, so that the polls find a
    // horizon to extend.
    const QDate madeOn = random_.bounded(3) == 0 ? today.addDays(-1 - qint64(random_.bounded(60))) : today;
    const TSeriesWriter::TOutcome outcome = writer.Create(series, madeOn);
    seriesDone(outcome, '0', outcome.seriesKey);
}

void TStressWorker::changeSeries()
{
    command_ = "serall";
    if (!database_->Series())
        return;
    const QString key = randomKey(*database_->Series());
    if (key.isEmpty())
        return;
    TSeriesWriter writer(*database_);
    QList<std::pair<QString, SeriesLinkRecord>> links;
    for (const auto& link : writer.Links(key))
        if (!(link.second.Flags() & (SeriesLinkRecord::Deleted | SeriesLinkRecord::Pending)))
            links << link;
    if (links.isEmpty())
        return;
    const SeriesLinkRecord link = links[qsizetype(random_.bounded(quint64(links.size())))].second;
    changeSeries(writer, link, random_.bounded(2) == 0 ? Scope::All : Scope::ThisAndFollowing);
}

void TStressWorker::changeSeries(TSeriesWriter& writer, const SeriesLinkRecord& link, Scope scope)
{
    command_ = scope == Scope::All ? "serall" : "serfol";
    SeriesRecord series;
    if (!writer.ReadSeries(link.SeriesKey(), series) || !mayChange(series.OwnerKey()))
        return;
    const QDate day = dayOfKey(link.DayKey());
    // What the editor shows, partly changed: the template, the time, the
    // alarm or the rule.
    SeriesRecord changed = series;
    TRecurrenceRule rule = series.Rule();
    if (scope == Scope::ThisAndFollowing) {
        rule.setStart(day);
        if (rule.end() == TRecurrenceRule::End::AfterCount)
            rule.setCount(std::max(1, series.Rule().Count() - int(series.Rule().Days(series.Rule().Start(), day.addDays(-1)).size())));
    }
    // The editor keeps a series' owner.
    if (random_.bounded(2) == 0) {
        randomTemplate(changed);
        changed.setOwnerKey(series.OwnerKey());
    }
    if (random_.bounded(3) == 0)
        rule.setTime(random_.bounded(5) == 0 ? QTime() : QTime(6 + int(random_.bounded(14)), 15 * int(random_.bounded(4))));
    if (random_.bounded(3) == 0) {
        const TRecurrenceRule other = randomRule(rule.Start());
        rule.setFrequency(other.frequency());
        rule.setInterval(other.Interval());
        rule.setWeekdays(other.Weekdays());
        rule.setMonthlyWeek(other.MonthlyWeek());
        if (other.end() == TRecurrenceRule::End::AfterCount)
            rule.setCount(other.Count());
        else if (other.end() == TRecurrenceRule::End::OnDate)
            rule.setUntil(other.Until());
        else
            rule.setEndless();
    }
    changed.setRule(rule);
    attach(writer.OnWrite, *database_);
    QThread::usleep(random_.bounded(3000));
    const TSeriesWriter::TOutcome outcome = writer.Change(link.SeriesKey(), scope, day, changed,
                                                          TClock::now().date(), TSeriesWriter::HeldOccurrences::Leave);
    // A split records the change on both series.
    if (outcome.result == TSeriesWriter::Result::Done && outcome.seriesKey != link.SeriesKey())
        seriesDone({}, '1', link.SeriesKey());
    seriesDone(outcome, '1', outcome.seriesKey);
}

void TStressWorker::deleteSeries(TSeriesWriter& writer, const SeriesLinkRecord& link, Scope scope)
{
    command_ = scope == Scope::All ? "serdelall" : scope == Scope::ThisAndFollowing ? "serdelfol" : "serdelone";
    attach(writer.OnWrite, *database_);
    const TSeriesWriter::TOutcome outcome
        = writer.Delete(link.SeriesKey(), scope, dayOfKey(link.DayKey()),
                        scope == Scope::ThisOne ? TSeriesWriter::HeldOccurrences::Refuse
                                                : TSeriesWriter::HeldOccurrences::Leave);
    // From the first occurrence on, this and following is the whole series;
    // which one it was the series read under its lock decided: either record.
    seriesDone(outcome, scope == Scope::All ? '2' : scope == Scope::ThisOne ? '1' : 'e', link.SeriesKey());
}
