#include "TStressChecker.h"

#include "TStressBookingCheck.h"
#include "TStressTrailCheck.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "IsamCode.h"
#include "TDatabaseLocation.h"
#include "TIsamFormat.h"
#include "TAlarmPoller.h"
#include "TDatabaseCopier.h"
#include "TQuorlaDatasets.h"
#include "TClock.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TXIsamFile.h"
#include "UserRecord.h"
#include "CategoryRecord.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TSeriesWriter.h"
#include "TStamp.h"
#include "EQuorla.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

std::size_t recordSize(const QString& fileName)
{
    for (const TQuorlaDatasets::Dataset& d : TQuorlaDatasets::All())
        if (d.fileName == fileName) {
            TIsamFormat format;
            format.parse(d.format);
            return format.recordSize();
        }
    return 0;
}

constexpr qint64 Never = std::numeric_limits<qint64>::max();

// The four datasets every reader knows (and the alarm poll's clean-up copies),
// then the series and their links.
const QList<std::pair<char, QString>> Datasets = {{'U', QString(UserRecord::FileName)},
                                                  {'C', QString(CategoryRecord::FileName)},
                                                  {'E', QString(DayEntryRecord::FileName)},
                                                  {'A', QString(AlarmRecord::FileName)},
                                                  {'S', QString(SeriesRecord::FileName)},
                                                  {'L', QString(SeriesLinkRecord::FileName)}};
const auto Basic = Datasets.mid(0, 4);

void say(const QString& text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

AlarmRecord alarmOf(const QByteArray& bytes)
{
    AlarmRecord alarm;
    if (bytes.size() == qsizetype(AlarmRecord::Size))
        std::copy(bytes.cbegin(), bytes.cend(), alarm.bytes().begin());
    return alarm;
}

DayEntryRecord entryOf(const QByteArray& bytes)
{
    DayEntryRecord entry;
    if (bytes.size() == qsizetype(DayEntryRecord::Size))
        std::copy(bytes.cbegin(), bytes.cend(), entry.bytes().begin());
    return entry;
}

} // namespace

TStressChecker::TStressChecker(TServices services, QString folder, QString database)
    : services_(services), folder_(std::move(folder))
{
    if (!folder_.endsWith(QLatin1Char('/')))
        folder_ += QLatin1Char('/');
    database_ = TDatabaseLocation(database.isEmpty() ? folder_ : database);
}

void TStressChecker::loadLogs()
{
    QHash<QString, qint64> kills;
    QFile killFile(folder_ + QStringLiteral("kills.txt"));
    if (killFile.open(QIODevice::ReadOnly)) {
        for (const QByteArray& row : killFile.readAll().split('\n')) {
            const QList<QByteArray> f = row.split(' ');
            if (f.size() == 2)
                kills.insert(QString::fromUtf8(f[0]), f[1].toLongLong());
        }
    }
    killed = int(kills.size());
    killedLogs_ = kills.keys();
    const QStringList logs = QDir(folder_ + QStringLiteral("logs")).entryList({QStringLiteral("*.log")}, QDir::Files);
    for (const QString& name : logs) {
        if (name.startsWith(QLatin1String("worker")))
            ++processes;
        for (const QString& fault : TStressLog::faults(folder_ + QStringLiteral("logs/") + name))
            faults << QStringLiteral("%1: %2").arg(name, fault);
        // A write begun and never finished ends at the latest when its process
        // was killed; one of a process that ran to its end never happened.
        const qint64 cut = kills.value(name, -1);
        QMap<qint64, Op> open;
        // The writes of the command in hand: made (their indexes in ops_)
        // and failed. They stand as told once the command ended well (K):
        // then every commit it made was answered.
        QList<qsizetype> command;
        QList<Op> failed;
        qint64 cmd = (qint64(logs.indexOf(name)) << 32) + 1;
        QByteArray current;
        bool traced = false;
        QSet<QString> victims;
        // How a command ended: a series command done, cut or without a write;
        // a user removal or category deletion cut.
        const auto ended = [&](const QByteArray& what, bool cut) {
            if (what.startsWith("ser"))
                cut ? ++seriesCut : traced ? ++seriesDone[what] : ++seriesNothing;
            if (cut)
                cutCommands_.insert(cmd);
            victims_ |= victims;
            victims.clear();
            traced = false;
            current.clear();
            ++cmd;
        };
        for (const TStressLog::Line& line : TStressLog::read(folder_ + QStringLiteral("logs/") + name)) {
            current = line.command;
            if (line.phase == 'T') {
                traced = true;
            } else if (line.phase == 'H') {
                heldEntries_.insert(line.key);
            } else if (line.phase == 'V') {
                victims.insert(line.key);
            } else if (line.phase == 'K') {
                command.clear();
                failed.clear();
                ended(line.command, false);
            } else if (line.phase == 'X') {
                unsettle(command, failed, line.time);
                ended(line.command, true);
            } else if (line.phase == 'B') {
                Op op;
                op.dataset = line.dataset;
                op.kind = line.kind;
                op.key = line.key;
                op.bytes = line.bytes;
                op.start = line.time;
                op.command = line.command;
                op.text = line.text;
                op.hasText = line.hasText;
                op.cmd = cmd;
                open.insert(line.seq, op);
            } else if (line.phase == 'A') {
                Op op = open.take(line.seq);
                if (op.dataset == 0) {
                    // The runner's own writes (the users) have no B line.
                    op.dataset = line.dataset;
                    op.kind = line.kind;
                    op.start = line.time;
                    op.command = line.command;
                    op.cmd = cmd;
                }
                op.key = line.key;
                op.bytes = line.bytes;
                op.end = line.time;
                op.acked = true;
                ++acknowledged;
                command << ops_.size();
                ops_ << op;
            } else if (line.phase == 'F') {
                const Op op = open.take(line.seq);
                if (op.dataset != 0)
                    failed << op;
            }
        }
        if (cut >= 0)
            unsettle(command, failed, cut);
        if (!current.isEmpty() && cut >= 0)
            ended(current, true);
        for (Op& op : open) {
            if (cut < 0) {
                faults << QStringLiteral("%1: a write began and neither succeeded nor failed").arg(name);
                continue;
            }
            op.end = cut;
            ops_ << op;
        }
    }
}

void TStressChecker::unsettle(QList<qsizetype>& made, QList<Op>& failed, qint64 end)
{
    // On a server a command's writes are one transaction, undone unless its
    // commit was answered; on a folder each write that was made stands.
    const bool server = database_.IsServer();
    for (qsizetype i : std::exchange(made, {})) {
        if (!server)
            continue;
        ops_[i].acked = false;
        ops_[i].cutByError = true;
        ops_[i].end = end;
        --acknowledged;
    }
    // A write that failed may have been made all the same: its answer may
    // have been lost with the connection.
    for (Op& op : std::exchange(failed, {})) {
        op.end = end;
        op.cutByError = server;
        ops_ << op;
    }
}

void TStressChecker::checkIntegrity(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        faults << QStringLiteral("%1: cannot be opened").arg(path);
        sqlite3_close_v2(db);
        return;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    QString integrity;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
            integrity += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + QLatin1Char(' ');
    }
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    if (integrity.trimmed() != QLatin1String("ok"))
        faults << QStringLiteral("%1: integrity check: %2").arg(path, integrity.trimmed());
}

bool TStressChecker::loadDataset(char dataset, const QString& fileName)
{
    if (database_.IsFolder())
        checkIntegrity(folder_ + fileName);
    TXIsamFile file;
    if (!file.Open(database_.DatasetName(fileName))) {
        faults << QStringLiteral("%1: cannot be opened: %2").arg(fileName, file.ErrorText());
        return false;
    }
    QMap<QString, QByteArray>& records = stored_[dataset];
    QByteArray record(qsizetype(recordSize(fileName)), 0);
    file.Rewind(TXIsamFile::PrimaryIndex);
    while (file.Get(std::span<char>(record.data(), std::size_t(record.size())), TXIsamFile::PrimaryIndex, QString(),
                    TXIsamFile::ScanNext)) {
        if (records.contains(file.CurrentKey()))
            faults << QStringLiteral("%1: key %2 read twice").arg(fileName, file.CurrentKey());
        records.insert(file.CurrentKey(), record);
    }
    if (file.LastError() != IsamNotFound)
        faults << QStringLiteral("%1: a scan ended with: %2").arg(fileName, file.ErrorText());
    return true;
}

void TStressChecker::checkWrites(char dataset)
{
    const QMap<QString, QByteArray>& records = stored_[dataset];
    QHash<QString, QList<const Op*>> byKey;
    QList<const Op*> unkeyedInserts;
    for (const Op& op : ops_) {
        if (op.dataset != dataset)
            continue;
        if (op.key.isEmpty())
            unkeyedInserts << &op;
        else
            byKey[op.key] << &op;
    }
    // A key once given out is never given out again, deleted or not.
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
        int inserts = 0;
        for (const Op* op : it.value())
            inserts += op->acked && op->kind == 'I';
        if (inserts > 1)
            faults << QStringLiteral("%1 %2: added %3 times").arg(QChar(dataset), it.key()).arg(inserts);
    }
    auto resultOf = [](const Op* op) { return op->kind == 'D' ? QByteArray() : op->bytes; };
    QSet<QString> keys(records.keyBegin(), records.keyEnd());
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        keys.insert(it.key());
    for (const QString& key : keys) {
        const QList<const Op*> ops = byKey.value(key);
        const bool present = records.contains(key);
        const QByteArray actual = records.value(key);
        const Op* last = nullptr;
        for (const Op* op : ops)
            if (op->acked && (!last || op->end > last->end))
                last = op;
        const qint64 after = last ? last->start : std::numeric_limits<qint64>::min();
        QList<QByteArray> candidates;
        bool absentAllowed = !last;
        if (last) {
            candidates << resultOf(last);
            absentAllowed = last->kind == 'D';
        }
        for (const Op* op : ops) {
            if (op == last || op->end <= after)
                continue;
            if (op->kind == 'D')
                absentAllowed = true;
            else
                candidates << op->bytes;
        }
        if (!present) {
            if (!absentAllowed)
                faults << QStringLiteral("%1 %2: lost (last acknowledged by %3)").arg(QChar(dataset), key,
                                                                                    QString::fromUtf8(last->command));
            continue;
        }
        if (candidates.contains(actual))
            continue;
        bool explained = false;
        for (const Op* op : unkeyedInserts)
            explained = explained || (!op->acked && op->end > after && op->bytes == actual);
        if (!explained)
            faults << QStringLiteral("%1 %2: %3").arg(QChar(dataset), key,
                                                      last ? QStringLiteral("holds other bytes than its last write")
                                                           : QStringLiteral("stored by no write"));
    }
}

void TStressChecker::checkLocks(char dataset, const QString& fileName)
{
    TXIsamFile file;
    if (!file.Open(database_.DatasetName(fileName))) {
        faults << QStringLiteral("%1: cannot be opened for the lock check").arg(fileName);
        return;
    }
    QSet<QString> keys;
    for (const Op& op : ops_)
        if (op.dataset == dataset && !op.key.isEmpty())
            keys.insert(op.key);
    for (const QString& key : keys) {
        if (!file.Lock(key))
            faults << QStringLiteral("%1 %2: lock still held").arg(QChar(dataset), key);
        file.Unlock(key);
    }
}

void TStressChecker::checkAlarms()
{
    const QMap<QString, QByteArray>& entries = stored_['E'];
    // The description each alarm was made with, by its key (keys are never
    // given out twice).
    QHash<QString, QString> madeFor;
    for (const Op& op : ops_)
        if (op.dataset == 'A' && op.kind == 'I' && op.acked && op.hasText)
            madeFor.insert(op.key, op.text);
    // Every description each entry has carried: an alarm kept through an edit
    // keeps the description it was made with.
    QHash<QString, QSet<QString>> carried;
    for (const Op& op : ops_)
        if (op.dataset == 'E' && op.kind != 'D' && op.acked && op.hasText)
            carried[op.key].insert(op.text);
    QHash<QString, QStringList> alarmUsers;
    for (auto it = stored_['A'].cbegin(); it != stored_['A'].cend(); ++it) {
        const AlarmRecord alarm = alarmOf(it.value());
        if (!entries.contains(alarm.DayEntryKey())) {
            ++orphans;
            continue;
        }
        const auto made = madeFor.constFind(it.key());
        if (made != madeFor.constEnd() && !carried.value(alarm.DayEntryKey()).contains(*made)) {
            if (++misdirected <= 5)
                say(QStringLiteral("alarm %1 made for \"%2\" points at entry %3 \"%4\"")
                        .arg(it.key(), *made, alarm.DayEntryKey(),
                             entryOf(entries.value(alarm.DayEntryKey())).Description()));
        }
        alarmUsers[alarm.DayEntryKey()] << alarm.UserKey();
    }
    // Each entry's alarms replayed from the logs, by users. A command that sets
    // the alarms afresh ("new", "props") leaves one per assignee or none; one
    // that keeps the alarm time ("keep") leaves every alarm of a user still
    // assigned as it stood (snoozed, or switched off and gone) and adds one
    // for each user it newly assigned; switching off and removing a user take
    // one away. The delete-user pass and category deletion rewrite entries
    // without setting their alarms.
    const auto setsAlarms = [](const Op& op) { return op.command != "deluser" && op.command != "catdel"; };
    QHash<QString, QList<const Op*>> history;
    for (const Op& op : ops_) {
        if (!op.acked)
            continue;
        if (op.dataset == 'E' && op.kind != 'D')
            history[op.key] << &op;
        else if (op.dataset == 'A' && !op.bytes.isEmpty()
                 && (op.kind == 'I' || (op.kind == 'D' && (op.command == "off" || op.command == "deluser"))))
            history[alarmOf(op.bytes).DayEntryKey()] << &op;
    }
    // Entries a command cut by a lost session touched: a command that is
    // several transactions (removing a user) leaves the ones made before.
    QSet<QString> cutByError;
    for (const Op& op : ops_)
        if (op.cutByError && (op.dataset == 'E' || (op.dataset == 'A' && !op.bytes.isEmpty())))
            cutByError.insert(op.dataset == 'E' ? op.key : alarmOf(op.bytes).DayEntryKey());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        // An occurrence's alarms may be made before its entry is rewritten
        // (a series' batches): held to their series over the settled copy.
        if (isOccurrence(it.key()))
            continue;
        QList<const Op*> events = history.value(it.key());
        std::stable_sort(events.begin(), events.end(), [](const Op* a, const Op* b) { return a->start < b->start; });
        QSet<QString> expected;
        QSet<QString> assigned;
        const Op* last = nullptr;
        QSet<QString> lastAssigned;
        QSet<QString> newlyAssigned;
        QSet<QString> madeByLast;
        for (const Op* op : events) {
            if (op->dataset == 'A') {
                const QString user = alarmOf(op->bytes).UserKey();
                if (op->kind == 'I') {
                    expected.insert(user);
                    madeByLast.insert(user);
                } else {
                    expected.remove(user);
                }
                continue;
            }
            const QStringList keys = entryOf(op->bytes).AssigneeKeys();
            const QSet<QString> now(keys.cbegin(), keys.cend());
            if (setsAlarms(*op)) {
                // A user assigned again whose alarm still stands (a removal
                // cut short) keeps it.
                newlyAssigned = now - assigned - expected;
                if (op->command == "keep")
                    expected &= now;
                else
                    expected.clear();
                last = op;
                lastAssigned = now;
                madeByLast.clear();
            }
            assigned = now;
        }
        const QStringList users = alarmUsers.value(it.key());
        const QSet<QString> have(users.cbegin(), users.cend());
        // Even a command cut short leaves no alarm twice and none for a user
        // the entry was not given.
        if (have.size() != users.size())
            faults << QStringLiteral("E %1: two alarms for one user").arg(it.key());
        if (!(have - (last ? lastAssigned : assigned)).isEmpty())
            faults << QStringLiteral("E %1: an alarm for a user it is not for").arg(it.key());
        const bool madeWhole = last == nullptr
                               || (last->command == "keep" ? madeByLast == newlyAssigned
                                                           : madeByLast.isEmpty() || madeByLast == lastAssigned);
        if (!madeWhole || have != expected)
            cutByLostSessions += cutByError.contains(it.key());
        if ((!madeWhole || have != expected) && ++cutEntries <= 5)
            say(QStringLiteral("entry %1: assignees %2, alarms for %3, expected for %4")
                    .arg(it.key(), QStringList(lastAssigned.cbegin(), lastAssigned.cend()).join(QLatin1Char(',')),
                         users.join(QLatin1Char(',')),
                         QStringList(expected.cbegin(), expected.cend()).join(QLatin1Char(','))));
    }
    if (killed == 0 && cutEntries > cutByLostSessions)
        faults << QStringLiteral("%1 entries without exactly one alarm per assignee, and no crash")
                      .arg(cutEntries - cutByLostSessions);
    // Entries go after their alarms and alarms are made under their entry's
    // lock, so not even a kill leaves an alarm without its entry.
    if (orphans > 0)
        faults << QStringLiteral("%1 alarms of missing entries").arg(orphans);
    if (misdirected > 0)
        faults << QStringLiteral("%1 alarms on an entry they were not made for").arg(misdirected);
}

void TStressChecker::checkTexts()
{
    for (const Op& op : ops_) {
        if (!op.acked || !op.hasText || op.kind == 'D')
            continue;
        QString stored;
        if (op.dataset == 'E')
            stored = entryOf(op.bytes).Description();
        else if (op.dataset == 'C' && op.bytes.size() == qsizetype(CategoryRecord::Size))
            stored = QString::fromUtf8(op.bytes.constData());
        else
            continue;
        if (stored != op.text && ++cutTexts <= 5)
            say(QStringLiteral("%1 %2: \"%3\" stored as \"%4\"").arg(QChar(op.dataset), op.key, op.text, stored));
    }
    if (cutTexts > 0)
        faults << QStringLiteral("%1 texts not stored as typed").arg(cutTexts);
}

void TStressChecker::runCleanUp()
{
    // Over a copy in a folder, so that the run's own database stays as the
    // workers left it. A server's database is copied as quorla_migrate does.
    const QString copy = folder_ + QStringLiteral("cleanup/");
    QDir(copy).removeRecursively();
    QDir().mkpath(copy);
    if (database_.IsServer()) {
        try {
            TDatabaseCopier(database_, TDatabaseLocation(copy)).Run();
        } catch (const EQuorla& e) {
            faults << QStringLiteral("clean-up: the copy failed: %1").arg(e.message());
            return;
        }
        // Without the series, which the polls would extend into 2037.
        for (const auto& [dataset, name] : Datasets.mid(4))
            QFile::remove(copy + name);
    } else {
        for (const auto& [dataset, name] : Basic)
            QFile::copy(folder_ + name, copy + name);
    }
    {
        TWorkstationStore store;
        store.OpenKey(true);
        store.WriteString(QStringLiteral("RootPath"), copy);
    }
    TClock::setOverride([] { return QDateTime(QDate(2037, 12, 1), QTime(0, 0)); });
    int cleaned = 0;
    {
        TQuorlaDB database(services_);
        TAlarmPoller poller([&](AlarmRecord& alarm, const QString& key, TQuorlaDB& db) {
            const QString alarmKey = key;
            TEventWriter writer(db);
            DayEntryRecord entry;
            if (!writer.entryExists(alarm, entry)) {
                writer.deleteOrphanAlarm(alarmKey, alarm, &cleaned);
                return 2;
            }
            writer.switchOffAlarm(alarmKey, alarm);
            return 1;
        });
        // Every user an alarm is for, removed users included.
        QSet<QString> users(stored_['U'].keyBegin(), stored_['U'].keyEnd());
        for (const QByteArray& bytes : stored_['A'])
            users.insert(alarmOf(bytes).UserKey());
        for (const QString& user : users)
            poller.Poll(database, user);
        if (database.Alarms().RecordCount() != 0)
            faults << QStringLiteral("clean-up: %1 alarms left after every user's poll")
                          .arg(database.Alarms().RecordCount());
    }
    TClock::setOverride({});
    // The clean-up's own writes leave sound files too.
    for (const auto& [dataset, name] : Basic)
        checkIntegrity(copy + name);
    if (cleaned != orphans)
        faults << QStringLiteral("clean-up: %1 alarms of missing entries, %2 removed by the poll").arg(orphans).arg(cleaned);
    say(QStringLiteral("clean-up: the poll removed %1 alarms of missing entries").arg(cleaned));
}

bool TStressChecker::check()
{
    loadLogs();
    for (const auto& [dataset, name] : Datasets)
        loadDataset(dataset, name);
    for (const auto& [dataset, name] : Datasets) {
        checkWrites(dataset);
        checkLocks(dataset, name);
    }
    for (const QByteArray& bytes : stored_['L'])
        occurrenceEntries_.insert(QString::fromLatin1(bytes.mid(SeriesLinkRecord::EntryKeyOffset, 10)));
    for (const Op& op : ops_)
        if (op.dataset == 'L' && op.bytes.size() == qsizetype(SeriesLinkRecord::Size))
            occurrenceEntries_.insert(QString::fromLatin1(op.bytes.mid(SeriesLinkRecord::EntryKeyOffset, 10)));
    occurrenceEntries_.remove(QString(RecordKey::None));
    // A series that set aside a key another workstation's insert had just
    // taken links it and gives way: that entry is a plain one.
    for (const Op& op : ops_)
        if (op.acked && op.dataset == 'E' && op.kind == 'I' && op.command == "new")
            occurrenceEntries_.remove(op.key);
    checkAlarms();
    checkTexts();
    TStressTrailCheck(database_, folder_ + QStringLiteral("logs/"), killedLogs_).check(faults);
    checkSeries();
    say(TStressBookingCheck::Check(database_, folder_, faults));
    runCleanUp();
    say(QStringLiteral("processes %1, writes acknowledged %2, kills %3").arg(processes).arg(acknowledged).arg(killed));
    say(QStringLiteral("records: %1 users, %2 categories, %3 entries, %4 alarms")
            .arg(stored_['U'].size())
            .arg(stored_['C'].size())
            .arg(stored_['E'].size())
            .arg(stored_['A'].size()));
    say(QStringLiteral("entries whose alarms a cut command left incomplete: %1 (a lost session: %5); alarms of "
                       "missing entries: %2; alarms on another entry: %3; texts not stored as typed: %4")
            .arg(cutEntries)
            .arg(orphans)
            .arg(misdirected)
            .arg(cutTexts)
            .arg(cutByLostSessions));
    QStringList done;
    for (auto it = seriesDone.cbegin(); it != seriesDone.cend(); ++it)
        done << QStringLiteral("%1 %2").arg(QString::fromLatin1(it.key())).arg(it.value());
    say(QStringLiteral("series commands done: %1; cut by a kill or an error: %2; without a write: %3")
            .arg(done.join(QStringLiteral(", ")))
            .arg(seriesCut)
            .arg(seriesNothing));
    say(QStringLiteral("series once settled: %1 with %2 occurrences (%3 exceptions), %4 deleted days; occurrences "
                       "apart from their template on a removed user or category: %5; entries left outside their series: %6")
            .arg(series)
            .arg(occurrences)
            .arg(exceptions)
            .arg(deletedDays)
            .arg(removalApart)
            .arg(leftOutside));
    for (const QString& fault : faults.mid(0, 40))
        say(QStringLiteral("FAULT ") + fault);
    say(faults.isEmpty() ? QStringLiteral("check: nothing lost or damaged")
                         : QStringLiteral("check: %1 faults").arg(faults.size()));
    return faults.isEmpty();
}

void TStressChecker::checkSeries()
{
    // What the logs tell of each occurrence's entry and alarms: entries
    // deleted by any write begun, alarms switched off, snoozed or removed
    // with their user (by entry and user).
    QSet<QString> deletedEntries;
    QSet<QString> answered;
    // The delete-user pass gives an entry its new assignee without an alarm,
    // an occurrence as any entry, and he stays without one until a write
    // sets the entry's alarms afresh: a category deletion touches no alarm,
    // "keep" keeps those of users still assigned, so may a series change of
    // an occurrence whose start stays (one that leaves the alarm alone,
    // which the log does not tell), and a later pass (another user's
    // removal) hands over more. A removal cut by a lost session is one
    // transaction per entry: those before the lost one stand, so its entry
    // writes count too.
    QHash<QString, QList<const Op*>> writes;
    for (const Op& op : ops_)
        if ((op.acked || (op.cutByError && op.command == "deluser")) && op.dataset == 'E' && op.kind != 'D')
            writes[op.key] << &op;
    for (auto it = writes.begin(); it != writes.end(); ++it) {
        std::stable_sort(it->begin(), it->end(), [](const Op* a, const Op* b) { return a->start < b->start; });
        QSet<QString> handed;
        QStringList before;
        QString startBefore;
        for (const Op* op : *it) {
            const DayEntryRecord entry = entryOf(op->bytes);
            const QStringList now = entry.AssigneeKeys();
            const bool series = op->command == "serall" || op->command == "serfol";
            if (op->command == "deluser" || op->command == "catdel" || op->command == "keep"
                || (series && entry.StartTime() == startBefore)) {
                for (auto user = handed.begin(); user != handed.end();)
                    user = now.contains(*user) ? std::next(user) : handed.erase(user);
                if (op->command == "deluser")
                    for (const QString& user : now)
                        if (!before.contains(user))
                            handed.insert(user);
            } else {
                handed.clear();
            }
            before = now;
            startBefore = entry.StartTime();
        }
        for (const QString& user : handed)
            answered.insert(it.key() + user);
    }
    for (const Op& op : ops_) {
        if (op.dataset == 'E' && op.kind == 'D')
            deletedEntries.insert(op.key);
        if (op.dataset == 'A' && !op.bytes.isEmpty()
            && (op.command == "off" || op.command == "snooze" || op.command == "deluser" || op.command == "orphan")) {
            const AlarmRecord alarm = alarmOf(op.bytes);
            answered.insert(alarm.DayEntryKey() + alarm.UserKey());
        }
    }

    // The copy, settled: every series left half-done is due for the next
    // poll's extension, which finishes or rolls it back first.
    const QString copy = folder_ + QStringLiteral("series/");
    QDir(copy).removeRecursively();
    QDir().mkpath(copy);
    if (database_.IsServer()) {
        try {
            TDatabaseCopier(database_, TDatabaseLocation(copy)).Run();
        } catch (const EQuorla& e) {
            faults << QStringLiteral("series: the copy failed: %1").arg(e.message());
            return;
        }
    } else {
        for (const auto& [dataset, name] : Datasets)
            QFile::copy(folder_ + name, copy + name);
    }
    {
        TWorkstationStore store;
        store.OpenKey(true);
        store.WriteString(QStringLiteral("RootPath"), copy);
    }
    const QDate today = TClock::now().date();
    QHash<char, QMap<QString, QByteArray>> settled;
    {
        TQuorlaDB database(services_);
        TSeriesWriter writer(database);
        if (!writer.Available()) {
            faults << QStringLiteral("series: the copy has no series datasets");
            return;
        }
        try {
            writer.Extend(today, std::numeric_limits<int>::max());
        } catch (const EQuorla& e) {
            faults << QStringLiteral("series: finishing what the workers left failed: %1").arg(e.message());
        }
        for (const auto& [dataset, name] : Datasets) {
            TXIsamFile file;
            if (!file.Open(TDatabaseLocation(copy).DatasetName(name))) {
                faults << QStringLiteral("series: %1 of the copy cannot be opened").arg(name);
                return;
            }
            QByteArray record(qsizetype(recordSize(name)), 0);
            file.Rewind(TXIsamFile::PrimaryIndex);
            while (file.Get(std::span<char>(record.data(), std::size_t(record.size())), TXIsamFile::PrimaryIndex,
                            QString(), TXIsamFile::ScanNext))
                settled[dataset].insert(file.CurrentKey(), record);
        }
    }
    const QMap<QString, QByteArray>& entries = settled['E'];

    // Alarms by entry; every alarm's entry is there (none of a removed
    // occurrence, nor of an occurrence rolled back).
    QHash<QString, QList<AlarmRecord>> alarmsOf;
    for (const QByteArray& bytes : settled['A']) {
        const AlarmRecord alarm = alarmOf(bytes);
        alarmsOf[alarm.DayEntryKey()] << alarm;
        if (!entries.contains(alarm.DayEntryKey()) && isOccurrence(alarm.DayEntryKey()))
            faults << QStringLiteral("series: an alarm of occurrence %1, which is gone").arg(alarm.DayEntryKey());
    }

    QHash<QString, QList<SeriesLinkRecord>> linksOf;
    QHash<QString, QString> linkedBy;
    for (auto it = settled['L'].cbegin(); it != settled['L'].cend(); ++it) {
        SeriesLinkRecord link;
        std::copy(it.value().cbegin(), it.value().cend(), link.bytes().begin());
        linksOf[link.SeriesKey()] << link;
        if (link.Flags() & SeriesLinkRecord::Pending)
            faults << QStringLiteral("series %1: day %2 still pending once settled").arg(link.SeriesKey(), link.DayKey());
        if (link.Flags() & SeriesLinkRecord::Deleted)
            continue;
        if (linkedBy.contains(link.EntryKey()))
            faults << QStringLiteral("series: entry %1 is the occurrence of %2 and of %3")
                          .arg(link.EntryKey(), linkedBy.value(link.EntryKey()), link.Occurrence());
        linkedBy.insert(link.EntryKey(), link.Occurrence());
    }
    for (auto it = linksOf.cbegin(); it != linksOf.cend(); ++it)
        if (!settled['S'].contains(it.key()))
            faults << QStringLiteral("series %1: %2 links of a series that is gone").arg(it.key()).arg(it.value().size());

    for (auto it = settled['S'].cbegin(); it != settled['S'].cend(); ++it) {
        ++series;
        const QString key = it.key();
        SeriesRecord record;
        std::copy(it.value().cbegin(), it.value().cend(), record.bytes().begin());
        const TRecurrenceRule rule = record.Rule();
        if (record.Change() != SeriesRecord::Pending::None || record.Splitting()) {
            faults << QStringLiteral("series %1: a change still noted once settled").arg(key);
            continue;
        }
        if (!rule.IsValid()) {
            faults << QStringLiteral("series %1: a rule that cannot be read: %2").arg(key, record.RRule());
            continue;
        }
        // Every day up to the horizon; a poll may have made a due series up
        // to a week past it.
        const QDate horizon = TSeriesWriter::Horizon(rule, today);
        QSet<QDate> days, ahead;
        for (const QDate& day :
             rule.Days(rule.Start(), TSeriesWriter::Horizon(rule, today.addDays(TSeriesWriter::ExtendAheadDays))))
            (day <= horizon ? days : ahead).insert(day);
        QHash<QDate, const SeriesLinkRecord*> byDay;
        for (const SeriesLinkRecord& link : linksOf.value(key)) {
            TStamp stamp;
            stamp.SetSeconds(qint32(RecordKey::parse(link.DayKey())));
            const QDate day(stamp.Year(), stamp.Month(), stamp.Day());
            // The link index keeps one per day; a day twice would be two.
            if (byDay.contains(day))
                faults << QStringLiteral("series %1: two occurrences on %2").arg(key, day.toString(Qt::ISODate));
            byDay.insert(day, &link);
            const bool exception = link.Flags() & SeriesLinkRecord::Exception;
            if (link.Flags() & SeriesLinkRecord::Deleted) {
                ++deletedDays;
                continue;
            }
            if (!days.contains(day) && !ahead.contains(day) && !exception)
                faults << QStringLiteral("series %1: an occurrence on %2, which its rule does not have")
                              .arg(key, day.toString(Qt::ISODate));
            if (!entries.contains(link.EntryKey())) {
                // Deleted as a plain entry (the delete-user pass): a deleted
                // day for the series' next change.
                if (deletedEntries.contains(link.EntryKey()))
                    ++deletedDays;
                else
                    faults << QStringLiteral("series %1: the occurrence on %2 points at entry %3, which nobody deleted")
                                  .arg(key, day.toString(Qt::ISODate), link.EntryKey());
                continue;
            }
            ++occurrences;
            // Exceptions too: no user's alarm twice, none for a user the
            // entry does not have (but one a removal cut short left).
            const DayEntryRecord entry = entryOf(entries.value(link.EntryKey()));
            const QList<AlarmRecord> alarms = alarmsOf.value(link.EntryKey());
            const QStringList assignees = entry.AssigneeKeys();
            QSet<QString> have;
            for (const AlarmRecord& alarm : alarms) {
                if (have.contains(alarm.UserKey()))
                    faults << QStringLiteral("series %1: two alarms of user %2 on %3 (entry %4)")
                                  .arg(key, alarm.UserKey(), day.toString(Qt::ISODate), link.EntryKey());
                if (!assignees.contains(alarm.UserKey()) && !victims_.contains(alarm.UserKey()))
                    faults << QStringLiteral("series %1: an alarm of user %2 on %3 (entry %4), who is not assigned")
                                  .arg(key, alarm.UserKey(), day.toString(Qt::ISODate), link.EntryKey());
                have.insert(alarm.UserKey());
            }
            if (exception) {
                ++exceptions;
                continue;
            }
            // The template on its day.
            const bool unTimed = record.Flags() & SeriesRecord::UnTimed;
            TStamp start;
            start.SetDateTime(unTimed ? QDateTime(day, QTime(0, 0)) : TRecurrenceRule::WallClock(day, rule.Time()));
            const qint32 flags = (unTimed ? DayEntryRecord::UnTimed : 0)
                | ((record.Flags() & SeriesRecord::Private) ? DayEntryRecord::Private : 0);
            if (entry.StartTime() != start.Key() || entry.Flags() != flags || entry.Description() != record.Description()) {
                faults << QStringLiteral("series %1: the occurrence on %2 (entry %3) is not its template's time or text")
                              .arg(key, day.toString(Qt::ISODate), link.EntryKey());
                continue;
            }
            const QStringList entryPeople = entry.AssigneeKeys() + QStringList{entry.OwnerKey()};
            const QStringList templatePeople = record.AssigneeKeys() + QStringList{record.OwnerKey()};
            if (entry.CategoryKey() != record.CategoryKey() || entryPeople != templatePeople) {
                // A user's removal or a category's deletion changes the
                // templates first, then the entries: one cut short, or one
                // that ran while a series was made or changed with what it
                // removes (as a plain entry can be meanwhile), leaves them
                // apart on that.
                const QSet<QString> a(entryPeople.cbegin(), entryPeople.cend());
                const QSet<QString> b(templatePeople.cbegin(), templatePeople.cend());
                QSet<QString> apart = (a - b) | (b - a);
                if (entry.CategoryKey() != record.CategoryKey())
                    apart << entry.CategoryKey() << record.CategoryKey();
                if (!apart.intersects(victims_))
                    faults << QStringLiteral("series %1: the occurrence on %2 (entry %3) has other people or category "
                                             "than its template (%4 in %5, the template %6 in %7)")
                                  .arg(key, day.toString(Qt::ISODate), link.EntryKey(),
                                       entryPeople.join(QLatin1Char(',')), entry.CategoryKey(),
                                       templatePeople.join(QLatin1Char(',')), record.CategoryKey());
                else if (++removalApart <= 3)
                    say(QStringLiteral("series %1: occurrence %2 apart from its template on %3")
                            .arg(key, link.EntryKey(), QStringList(apart.cbegin(), apart.cend()).join(QLatin1Char(','))));
                continue;
            }
            const QString at = RecordKey::format(std::max<qint64>(0, RecordKey::parse(start.Key()) - record.AlarmOffset()));
            for (const AlarmRecord& alarm : alarms) {
                if (!(record.Flags() & SeriesRecord::AlarmWanted))
                    faults << QStringLiteral("series %1: an alarm on %2 (entry %3), which its template does not want")
                                  .arg(key, day.toString(Qt::ISODate), link.EntryKey());
                else if (alarm.AlarmTime() != at && !answered.contains(link.EntryKey() + alarm.UserKey()))
                    faults << QStringLiteral("series %1: the alarm of user %2 on %3 at %4, not at its offset %5")
                                  .arg(key, alarm.UserKey(), day.toString(Qt::ISODate), alarm.AlarmTime(), at);
            }
            if (record.Flags() & SeriesRecord::AlarmWanted)
                for (const QString& user : entry.AssigneeKeys())
                    if (!have.contains(user) && !answered.contains(link.EntryKey() + user))
                        faults << QStringLiteral("series %1: no alarm for user %2 on %3 (entry %4)")
                                      .arg(key, user, day.toString(Qt::ISODate), link.EntryKey());
        }
        for (const QDate& day : days)
            if (!byDay.contains(day))
                faults << QStringLiteral("series %1: no occurrence on %2").arg(key, day.toString(Qt::ISODate));
    }
    // An occurrence's entry outside every series: only one a change left
    // because it was open elsewhere (its note may be lost to a kill: then
    // the write that removed its link is a cut command's).
    QHash<QString, QString> entryOfLink;
    for (const Op& op : ops_)
        if (op.dataset == 'L' && op.bytes.size() == qsizetype(SeriesLinkRecord::Size) && !op.key.isEmpty())
            entryOfLink.insert(op.key, QString::fromLatin1(op.bytes.mid(SeriesLinkRecord::EntryKeyOffset, 10)));
    QSet<QString> unlinkedByCut;
    for (const Op& op : ops_)
        if (op.dataset == 'L' && op.kind == 'D' && (!op.acked || cutCommands_.contains(op.cmd)))
            unlinkedByCut.insert(entryOfLink.value(op.key));
    for (const QString& entryKey : occurrenceEntries_) {
        if (!entries.contains(entryKey) || linkedBy.contains(entryKey))
            continue;
        ++leftOutside;
        if (!heldEntries_.contains(entryKey) && !unlinkedByCut.contains(entryKey))
            faults << QStringLiteral("series: entry %1 was an occurrence and is now outside its series").arg(entryKey);
    }
}
