#include "TSeriesWriter.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TBin.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TCommandScope.h"
#include "TDetailsStore.h"
#include "TBookingWriter.h"
#include "TDetailsWriter.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServerHidden.h"
#include "TStamp.h"
#include "TTextCapacity.h"
#include "TXIsamFile.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QScopeGuard>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <climits>
#include <optional>

namespace {

using TBatch = QList<TXIsamFile::TBatchWrite>;
using Kind = TXIsamFile::TBatchWrite::Kind;

// Tries at setting aside keys for new entries while others add entries too.
constexpr int KeyAttempts = 100;
// The MadeUntil of a series whose rule has no day left to make.
const QString AllMade = QStringLiteral("9999999999");
const QDate LastStampDay(2037, 12, 31);

QString dayKey(const QDate& day)
{
    TStamp stamp;
    stamp.SetDateTime(day.year(), day.month(), day.day(), 0, 0, 0);
    return stamp.Key();
}

QDate dayOf(const QString& key)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(key)));
    return QDate(stamp.Year(), stamp.Month(), stamp.Day());
}

QString momentKey(const QDateTime& moment)
{
    TStamp stamp;
    stamp.SetDateTime(moment);
    return stamp.Key();
}

QByteArray bytes(std::span<const char> record) { return TRecordWriter::bytesOf(record); }

// An outcome without occurrences held.
TSeriesWriter::TOutcome answer(TSeriesWriter::Result result, const QString& seriesKey = QString(), int touched = 0)
{
    TSeriesWriter::TOutcome outcome;
    outcome.result = result;
    outcome.seriesKey = seriesKey;
    outcome.touched = touched;
    return outcome;
}

template <typename T>
QList<QList<T>> chunks(const QList<T>& all, int size)
{
    QList<QList<T>> out;
    for (qsizetype i = 0; i < all.size(); i += size)
        out << all.mid(i, size);
    return out;
}

// Ends `series`' rule the day before `day`, unless it ends sooner already:
// a rule is only ever shortened, since ending it later would add days that
// nobody makes (the caller's `day` may be past a change made elsewhere).
// True when the rule changed.
bool endBefore(SeriesRecord& series, const QDate& day)
{
    TRecurrenceRule rule = series.Rule();
    const QDate last = rule.LastDay();
    if (last.isValid() && last < day)
        return false;
    rule.setUntil(day.addDays(-1));
    series.setRule(rule);
    return true;
}

} // namespace

// The day of the rule's first occurrence (its start when it has none).
QDate TSeriesWriter::firstOccurrence(const TRecurrenceRule& rule)
{
    const QList<QDate> first = rule.Days(rule.Start(), LastStampDay, 1);
    return first.isEmpty() ? rule.Start() : first.first();
}

void TSeriesWriter::record(TChangeTrail::Action action, const QString& seriesKey, const QString& summary,
                           const SeriesRecord* before, const SeriesRecord* after)
{
    database_.Trail().Record({action, database_.Series(), seriesKey, TChangeTrail::SeriesSubject(seriesKey),
                              TChangeSummary::OfSeries(before, after, summary)});
}

QString TSeriesWriter::counted(const QString& head, const TOutcome& outcome, const char* verb)
{
    QString text = QStringLiteral("%1 occurrences %2").arg(outcome.touched).arg(QLatin1String(verb));
    if (!outcome.held.isEmpty()) {
        QStringList held;
        for (const THeld& one : outcome.held)
            held << (one.day.toString(Qt::ISODate) + QLatin1Char(' ') + THolderNotes::Who(one.holder)).trimmed();
        text += QStringLiteral("; %1 left open elsewhere: ").arg(outcome.held.size()) + held.join(QStringLiteral(", "));
    }
    // The counts and who holds what are kept whole: the words before them
    // are shortened instead when the summary would not fit.
    const int room = TrailRecord::SummaryCapacity - TTextCapacity::bytes(text);
    if (TTextCapacity::fits(head, room))
        return head + text;
    const QString cut = QStringLiteral("…; ");
    return TTextCapacity::cut(head, std::max(0, room - TTextCapacity::bytes(cut))) + cut + text;
}

QString TSeriesWriter::named(const SeriesRecord& series, int room)
{
    const QString assignees = TChangeSummary(database_).ForAssignees(series.AssigneeKeys());
    const QString quoted = TChangeSummary::Quoted(series.Description(), room);
    return assignees.isEmpty() ? quoted : quoted + QLatin1Char(' ') + assignees;
}

TSeriesWriter::TSeriesWriter(TQuorlaDB& database)
    : OnWrite(writer_.OnWrite), database_(database)
{
}

TSeriesWriter::TKeeping::TKeeping(TSeriesWriter& writer)
    : writer_(writer), outer_(!writer.keeping_ && writer.database_.Connection())
{
    if (outer_)
        writer_.keeping_ = true;
}

TSeriesWriter::TKeeping::~TKeeping()
{
    if (!outer_)
        return;
    writer_.kept_.clear();
    writer_.keeping_ = false;
}

void TSeriesWriter::keep(TRecordLock&& lock)
{
    if (keeping_ && lock.Held())
        kept_.push_back(std::move(lock));
}

bool TSeriesWriter::Available() const
{
    return const_cast<TQuorlaDB&>(database_).Series() != nullptr;
}

QDate TSeriesWriter::Horizon(const TRecurrenceRule& rule, const QDate& today)
{
    QDate horizon = std::min(today.addMonths(HorizonMonths), LastStampDay);
    const QDate last = rule.LastDay();
    if (last.isValid() && last < horizon)
        horizon = last;
    return horizon;
}

DayEntryRecord TSeriesWriter::Occurrence(const SeriesRecord& series, const QDate& day)
{
    return entryOf(series, series.Rule(), day);
}

QDate TSeriesWriter::FirstUnmade(const SeriesRecord& series, const QDate& from, const QDate& to)
{
    if (series.MadeUntil() == AllMade)
        return {};
    const QDate after = RecordKey::isNone(series.MadeUntil()) ? from : std::max(from, dayOf(series.MadeUntil()).addDays(1));
    const QList<QDate> days = series.Rule().Days(after, to, 1);
    return days.isEmpty() ? QDate() : days.first();
}

bool TSeriesWriter::ReadSeries(const QString& key, SeriesRecord& series)
{
    return Available() && TLookup::Equal(*database_.Series(), series.bytes(), TXIsamFile::PrimaryIndex, key);
}

bool TSeriesWriter::LinkOf(const QString& entryKey, SeriesLinkRecord& link)
{
    return Available() && !RecordKey::isNone(entryKey)
        && TLookup::Equal(*database_.SeriesLinks(), link.bytes(), SeriesLinkRecord::EntryKeyIndex, entryKey);
}

QSet<QString> TSeriesWriter::OccurrenceKeys(QSet<QString>* exceptions)
{
    QSet<QString> keys;
    if (!Available())
        return keys;
    TXIsamFile& links = *database_.SeriesLinks();
    SeriesLinkRecord link;
    const bool read = links.Range(link.bytes(), SeriesLinkRecord::EntryKeyIndex, RecordKey::format(1), AllMade, [&] {
        keys.insert(link.EntryKey());
        if (exceptions && (link.Flags() & SeriesLinkRecord::Exception))
            exceptions->insert(link.EntryKey());
        return true;
    });
    if (!read && links.LastError() != IsamNotFound)
        throw EQuorla(links.ErrorText());
    return keys;
}

QList<std::pair<QString, SeriesLinkRecord>> TSeriesWriter::Links(const QString& seriesKey)
{
    return linksFrom(seriesKey, RecordKey::None);
}

TSeriesWriter::TLinks TSeriesWriter::linksFrom(const QString& seriesKey, const QString& fromDayKey)
{
    TLinks found;
    if (!Available())
        return found;
    TXIsamFile& links = *database_.SeriesLinks();
    SeriesLinkRecord link;
    const bool read = links.Range(link.bytes(), SeriesLinkRecord::OccurrenceIndex, seriesKey + fromDayKey,
                                  seriesKey + AllMade,
                                  [&] {
                                      found.append({links.CurrentKey(), link});
                                      return true;
                                  });
    if (!read && links.LastError() != IsamNotFound)
        throw EQuorla(links.ErrorText());
    return found;
}

QList<std::pair<QString, QString>> TSeriesWriter::alarmsOf(const QString& entryKey)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    QList<std::pair<QString, QString>> found;
    const bool read = alarms.Range(alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, entryKey, [&] {
        found.append({alarms.CurrentKey(), alarm.UserKey()});
        return true;
    });
    if (!read && alarms.LastError() != IsamNotFound)
        throw EQuorla(alarms.ErrorText());
    return found;
}

DayEntryRecord TSeriesWriter::entryOf(const SeriesRecord& series, const TRecurrenceRule& rule, const QDate& day)
{
    DayEntryRecord entry;
    entry.initialise();
    const bool unTimed = series.Flags() & SeriesRecord::UnTimed;
    entry.setFlags((unTimed ? DayEntryRecord::UnTimed : 0)
                   | ((series.Flags() & SeriesRecord::Private) ? DayEntryRecord::Private : 0));
    entry.setStartTime(momentKey(unTimed ? QDateTime(day, QTime(0, 0)) : TRecurrenceRule::WallClock(day, rule.Time())));
    entry.setOwnerKey(series.OwnerKey());
    entry.setCategoryKey(series.CategoryKey());
    entry.setDescription(series.Description());
    entry.setAssigneeKeys(series.AssigneeKeys());
    return entry;
}

void TSeriesWriter::addAlarms(const SeriesRecord& series, const QString& entryKey, const DayEntryRecord& entry,
                              TBatch& writes, const std::optional<QStringList>& users)
{
    if (!(series.Flags() & SeriesRecord::AlarmWanted))
        return;
    const qint64 at = std::max<qint64>(0, RecordKey::parse(entry.StartTime()) - series.AlarmOffset());
    AlarmRecord alarm;
    for (const QString& user : users.value_or(entry.AssigneeKeys())) {
        alarm.clear();
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(RecordKey::format(at));
        alarm.setDayEntryKey(entryKey);
        alarm.setUserKey(user);
        alarm.rebuildUserAlarmKey();
        writes << TXIsamFile::TBatchWrite{Kind::Add, QString(), bytes(alarm.bytes())};
    }
}

void TSeriesWriter::writeSeries(const QString& key, const SeriesRecord& series)
{
    writer_.update(*database_.Series(), key, series.bytes());
}

void TSeriesWriter::batch(TXIsamFile& dataset, TBatch& writes)
{
    if (writes.isEmpty())
        return;
    writer_.writeBatch(dataset, writes);
    // An occurrence's own details go after it.
    if (&dataset != &database_.DayEntries())
        return;
    QStringList removed;
    for (const TXIsamFile::TBatchWrite& write : writes)
        if (write.kind == Kind::Remove)
            removed << write.key;
    TDetailsWriter(database_, writer_).RemoveEntries(removed);
    TBookingWriter(database_, writer_).RemoveEntries(removed);
}

namespace {

// Whether an entry is stored under any of `keys` (in key order).
bool anyStored(TXIsamFile& entries, const QStringList& keys)
{
    bool taken = false;
    DayEntryRecord probe;
    if (!entries.Range(probe.bytes(), TXIsamFile::PrimaryIndex, keys.first(), keys.last(),
                       [&] {
                           taken = true;
                           return false;
                       })
        && !taken && entries.LastError() != IsamNotFound)
        throw EQuorla(entries.ErrorText());
    return taken;
}

} // namespace

qint64 TSeriesWriter::claimKeys(qint64 n, qint64& passed, std::optional<TRecordLocks>& locks)
{
    TXIsamFile& entries = database_.DayEntries();
    // The new entries' keys are locked and then set aside by raising the key
    // mark past them: nobody else adds under them from then on, so a pending
    // link's entry key is this writer's even after a kill (an insert under a
    // key it chose and locked makes this attempt give way; one the engine
    // chose is looked for below).
    qint64 first = RecordKey::parse(entries.NextKey());
    if (first <= 0)
        throw EQuorla(entries.ErrorText());
    first = std::max(first, passed + 1);
    QStringList keys;
    for (qint64 i = 0; i < n; ++i)
        keys << RecordKey::format(first + i);
    locks.emplace(entries, keys);
    if (!locks->Held()) {
        passed = first + n - 1;
        QThread::usleep(2000);
        return 0;
    }
    if (!entries.RaiseKeyMark(keys.last()))
        throw EQuorla(entries.ErrorText());
    // An add chooses its key without a lock: one that chose one of these
    // before the mark moved has stored its record by now. It is another's
    // entry, which no pending link may name - the next writer would remove
    // it with its alarms were this one killed before taking the link back.
    return anyStored(entries, keys) ? 0 : first;
}

TSeriesWriter::Made TSeriesWriter::makeChunk(const QString& seriesKey, const SeriesRecord& series,
                                             const QList<QDate>& chunk, qint64 first)
{
    TXIsamFile& entries = database_.DayEntries();
    TXIsamFile& links = *database_.SeriesLinks();
    const TRecurrenceRule rule = series.Rule();
    TBatch linkWrites, entryWrites, alarmWrites;
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const QString key = RecordKey::format(first + i);
        const DayEntryRecord entry = entryOf(series, rule, chunk[i]);
        SeriesLinkRecord link;
        link.setOccurrence(seriesKey, dayKey(chunk[i]));
        link.setEntryKey(key);
        link.setFlags(SeriesLinkRecord::Pending);
        link.setStart(entry.StartTime());
        linkWrites << TXIsamFile::TBatchWrite{Kind::Add, QString(), bytes(link.bytes())};
        entryWrites << TXIsamFile::TBatchWrite{Kind::Add, key, bytes(entry.bytes())};
        addAlarms(series, key, entry, alarmWrites);
    }
    batch(links, linkWrites);
    // A paced poll stops here, its links pending: the next polls finish
    // them (finish).
    if (pacing_)
        return Made::Paused;
    try {
        batch(entries, entryWrites);
    } catch (const EQuorla&) {
        if (entries.LastError() != IsamUpdateMode)
            throw;
        // A key was taken before this writer locked it: none of the entries
        // went in; the pending links go and new keys are tried.
        TBatch undo;
        for (const auto& w : linkWrites)
            undo << TXIsamFile::TBatchWrite{Kind::Remove, w.key, QByteArray()};
        batch(links, undo);
        return Made::Again;
    }
    batch(database_.Alarms(), alarmWrites);
    TBatch done;
    for (const auto& w : linkWrites) {
        SeriesLinkRecord link;
        std::copy(w.record.cbegin(), w.record.cend(), link.bytes().begin());
        link.setFlags(0);
        done << TXIsamFile::TBatchWrite{Kind::Replace, w.key, bytes(link.bytes())};
    }
    batch(links, done);
    return Made::Done;
}

namespace {

// Keys a paced poll of this process set aside for the occurrences the next
// poll links, by database; taken by the poll that names them. Only this
// process knows them: lost with it, they are keys nobody uses, which costs
// nothing. The process id keeps a forked child from taking its parent's.
struct TSetAside
{
    qint64 first = 0;
    qint64 count = 0;
};
QMutex setAsideLock;
QHash<QString, TSetAside> setAside;

QString setAsidePlace(const TQuorlaDB& database)
{
    return QString::number(QCoreApplication::applicationPid()) + QLatin1Char(':') + database.Location().Path();
}

} // namespace

int TSeriesWriter::makePaced(const QString& seriesKey, const SeriesRecord& series, const QList<QDate>& days)
{
    if (days.isEmpty())
        return 0;
    TXIsamFile& entries = database_.DayEntries();
    const QString place = setAsidePlace(database_);
    TSetAside keys;
    {
        const QMutexLocker hold(&setAsideLock);
        keys = setAside.take(place);
    }
    paused_ = true;
    if (keys.count > 0) {
        // Still nobody's: locked and none stored under them.
        QStringList named;
        for (qint64 i = 0; i < keys.count; ++i)
            named << RecordKey::format(keys.first + i);
        const TRecordLocks locks(entries, named);
        if (locks.Held() && !anyStored(entries, named)) {
            const QList<QDate> chunk = days.mid(0, keys.count);
            makeChunk(seriesKey, series, chunk, keys.first);
            return int(chunk.size());
        }
    }
    // The keys alone are this poll's write; the next poll links them.
    const qint64 n = std::min<qint64>(days.size(), BatchSize);
    qint64 passed = 0;
    for (int attempt = 0; attempt < KeyAttempts; ++attempt) {
        std::optional<TRecordLocks> locks;
        if (const qint64 first = claimKeys(n, passed, locks); first > 0) {
            const QMutexLocker hold(&setAsideLock);
            setAside.insert(place, TSetAside{first, n});
            return int(n);
        }
    }
    throw EQuorla(entries.ErrorText());
}

int TSeriesWriter::make(const QString& seriesKey, const SeriesRecord& series, const QList<QDate>& days)
{
    int made = 0;
    // The end of the last keys found with one locked elsewhere (another
    // workstation about to add under it, which may be waiting for this
    // command to end): the keys tried next lie past them.
    qint64 passed = 0;
    for (const QList<QDate>& chunk : chunks(days, BatchSize)) {
        for (int attempt = 0;; ++attempt) {
            if (attempt >= KeyAttempts)
                throw EQuorla(database_.DayEntries().ErrorText());
            // Held until the chunk is written.
            std::optional<TRecordLocks> locks;
            const qint64 first = claimKeys(chunk.size(), passed, locks);
            if (first == 0)
                continue;
            const Made step = makeChunk(seriesKey, series, chunk, first);
            if (step == Made::Again)
                continue;
            made += int(chunk.size());
            if (step == Made::Paused)
                return made;
            break;
        }
    }
    return made;
}

int TSeriesWriter::extendOne(const QString& seriesKey, SeriesRecord& series, const QDate& today, int budget,
                             const TLinks* known)
{
    const TRecurrenceRule rule = series.Rule();
    if (!rule.IsValid()) {
        // Nothing this program can make: kept out of every poll's way.
        series.setMadeUntil(AllMade);
        writeSeries(seriesKey, series);
        return 0;
    }
    const QDate horizon = Horizon(rule, today);
    const QDate from = RecordKey::isNone(series.MadeUntil()) ? rule.Start() : dayOf(series.MadeUntil()).addDays(1);
    const QList<QDate> days = rule.Days(from, horizon, budget);
    QSet<QDate> linked;
    for (const auto& [key, link] : known ? *known : linksFrom(seriesKey, dayKey(from)))
        linked.insert(dayOf(link.DayKey()));
    QList<QDate> missing;
    for (const QDate& day : days)
        if (!linked.contains(day))
            missing << day;
    paused_ = false;
    // A paced poll that finds the first days made (by the polls before it)
    // makes none: it is made up to the day before the first one missing.
    const bool holdBack = pacing_ && !missing.isEmpty() && missing.first() != days.first();
    const int made = holdBack ? 0 : pacing_ ? makePaced(seriesKey, series, missing) : make(seriesKey, series, missing);
    if (paused_)
        return made;
    // The occurrences book what the series books, the new ones and those
    // rewritten alike.
    TBookingWriter(database_, writer_).BookSeries(seriesKey);
    QString until;
    if (holdBack) {
        until = dayKey(missing.first().addDays(-1));
    } else if (days.size() >= budget) {
        until = dayKey(days.last());
    } else {
        // Made up to the horizon: due again only once the horizon reaches
        // the rule's next day (never, when it has none left).
        const QList<QDate> next = rule.Days(horizon.addDays(1), LastStampDay, 1);
        until = next.isEmpty() ? AllMade : dayKey(next.first().addDays(-1));
    }
    // Written only when it moves: a poll that finds nothing to make writes
    // nothing.
    if (until != series.MadeUntil()) {
        series.setMadeUntil(until);
        writeSeries(seriesKey, series);
    }
    return made;
}

void TSeriesWriter::lockEntries(const TLinks& links, std::vector<TRecordLock>& locks, QList<THeld>& held)
{
    TXIsamFile& entries = database_.DayEntries();
    for (const auto& [key, link] : links) {
        if (link.EntryKey() == callerHolds_)
            continue;
        TRecordLock lock(entries, link.EntryKey());
        if (lock.Held())
            locks.push_back(std::move(lock));
        else
            held << THeld{dayOf(link.DayKey()), link.EntryKey(), database_.Holders().HolderOf(entries, link.EntryKey())};
    }
}

TSeriesWriter::TLinks TSeriesWriter::affected(const QString& seriesKey, const QDate& from, bool withExceptions)
{
    TLinks out;
    const QString fromKey = dayKey(from);
    for (const auto& entry : Links(seriesKey)) {
        const SeriesLinkRecord& link = entry.second;
        if (link.DayKey() < fromKey || (link.Flags() & (SeriesLinkRecord::Pending | SeriesLinkRecord::Deleted)))
            continue;
        if (!withExceptions && (link.Flags() & SeriesLinkRecord::Exception))
            continue;
        out << entry;
    }
    return out;
}

QList<TSeriesWriter::THeld> TSeriesWriter::probe(const TLinks& links)
{
    std::vector<TRecordLock> locks;
    QList<THeld> held;
    lockEntries(links, locks, held);
    // Within a command on a server a lock this writer holds already is
    // taken again by the same dataset object, and letting it go would free
    // it: kept with the command's.
    for (TRecordLock& lock : locks)
        keep(std::move(lock));
    return held;
}

int TSeriesWriter::apply(const TLinks& all, QList<THeld>* held, const TEach& each)
{
    int touched = 0;
    for (const TLinks& chunk : chunks(all, BatchSize)) {
        std::vector<TRecordLock> locks;
        QSet<QString> left;
        if (held) {
            QList<THeld> refused;
            lockEntries(chunk, locks, refused);
            for (const THeld& h : refused)
                left.insert(h.entryKey);
            *held << refused;
        }
        TWrites writes;
        for (const auto& [linkKey, link] : chunk)
            touched += each(linkKey, link, left.contains(link.EntryKey()), writes) ? 1 : 0;
        // On a server the batches are one command, and the server lets a
        // new alarm in only when its entry, as stored, is one its user may
        // read: a user newly assigned to a private occurrence is so only
        // once its entry is written. In a folder each batch stands alone,
        // and the alarms go first, so that a stop in between never leaves a
        // user newly assigned to an occurrence whom its rewrite, finished
        // by the next writer, no longer takes for new.
        if (database_.Connection()) {
            const auto adds = std::stable_partition(writes.alarms.begin(), writes.alarms.end(),
                                                    [](const auto& w) { return w.kind != Kind::Add; });
            writes.added = TBatch(adds, writes.alarms.end());
            writes.alarms.erase(adds, writes.alarms.end());
        }
        // The entries read by `each` stay under their locks (or the
        // caller's, or the series' for pending ones), so none of them can go
        // before the batches below.
        batch(database_.Alarms(), writes.alarms);
        batch(database_.DayEntries(), writes.entries);
        batch(database_.Alarms(), writes.added);
        batch(*database_.SeriesLinks(), writes.links);
        // On a server nobody may open them before the commit shows them.
        for (TRecordLock& lock : locks)
            keep(std::move(lock));
    }
    return touched;
}

void TSeriesWriter::dropAlarms(const QString& entryKey, TWrites& writes)
{
    for (const auto& [alarm, user] : alarmsOf(entryKey))
        writes.alarms << TXIsamFile::TBatchWrite{Kind::Remove, alarm, QByteArray()};
}

void TSeriesWriter::rewriteAlarms(const SeriesRecord& series, const QString& entryKey, const DayEntryRecord& before,
                                  const DayEntryRecord& after, TWrites& writes)
{
    if (!(series.Flags() & SeriesRecord::AlarmsKept) || before.StartTime() != after.StartTime()) {
        dropAlarms(entryKey, writes);
        addAlarms(series, entryKey, after, writes.alarms);
        return;
    }
    // The alarm time stays: as for an entry changed alone, only the alarms
    // of users no longer assigned go, and only a user newly assigned gets
    // one (one whose alarm a removal cut short left keeps that one).
    const QStringList assigned = after.AssigneeKeys();
    const QStringList assignedBefore = before.AssigneeKeys();
    QStringList alarmed;
    for (const auto& [alarm, user] : alarmsOf(entryKey)) {
        if (assigned.contains(user))
            alarmed << user;
        else
            writes.alarms << TXIsamFile::TBatchWrite{Kind::Remove, alarm, QByteArray()};
    }
    QStringList newcomers;
    for (const QString& user : assigned)
        if (!assignedBefore.contains(user) && !alarmed.contains(user))
            newcomers << user;
    addAlarms(series, entryKey, after, writes.alarms, newcomers);
}

int TSeriesWriter::rewrite(const SeriesRecord& series, const TLinks& all, QList<THeld>& held)
{
    if (all.isEmpty())
        return 0;
    const TRecurrenceRule rule = series.Rule();
    QSet<QString> days;
    for (const QDate& day : rule.Days(dayOf(all.first().second.DayKey()), dayOf(all.last().second.DayKey())))
        days.insert(dayKey(day));
    DayEntryRecord stored;
    return apply(all, &held, [&](const QString& linkKey, const SeriesLinkRecord& link, bool left, TWrites& w) {
        SeriesLinkRecord changed = link;
        if (!TLookup::Equal(database_.DayEntries(), stored.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey())) {
            // Deleted as a plain entry (Delete event on it alone): a deleted
            // day from now on, never made again.
            changed.setFlags(SeriesLinkRecord::Deleted);
            changed.setEntryKey(RecordKey::None);
            w.links << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(changed.bytes())};
            return false;
        }
        if (left) {
            // Open elsewhere: left as it is, an exception from now on.
            changed.setFlags(link.Flags() | SeriesLinkRecord::Exception);
            w.links << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(changed.bytes())};
            return false;
        }
        if (!days.contains(link.DayKey())) {
            dropAlarms(link.EntryKey(), w);
            w.entries << TXIsamFile::TBatchWrite{Kind::Remove, link.EntryKey(), QByteArray()};
            w.links << TXIsamFile::TBatchWrite{Kind::Remove, linkKey, QByteArray()};
            return true;
        }
        const DayEntryRecord entry = entryOf(series, rule, dayOf(link.DayKey()));
        rewriteAlarms(series, link.EntryKey(), stored, entry, w);
        w.entries << TXIsamFile::TBatchWrite{Kind::Replace, link.EntryKey(), bytes(entry.bytes())};
        if (changed.Start() != entry.StartTime()) {
            changed.setStart(entry.StartTime());
            w.links << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(changed.bytes())};
        }
        return true;
    });
}

int TSeriesWriter::remove(const TLinks& all, bool keepDays, QList<THeld>& held)
{
    return apply(all, &held, [&](const QString& linkKey, const SeriesLinkRecord& link, bool left, TWrites& w) {
        if (left || !keepDays) {
            // Open elsewhere: stays, a plain entry no longer in the series.
            w.links << TXIsamFile::TBatchWrite{Kind::Remove, linkKey, QByteArray()};
            if (left)
                return false;
        } else {
            SeriesLinkRecord gone = link;
            gone.setEntryKey(RecordKey::None);
            gone.setFlags(SeriesLinkRecord::Deleted);
            w.links << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(gone.bytes())};
        }
        dropAlarms(link.EntryKey(), w);
        w.entries << TXIsamFile::TBatchWrite{Kind::Remove, link.EntryKey(), QByteArray()};
        return true;
    });
}

QString TSeriesWriter::resting(const QString& key, const SeriesRecord& series)
{
    // A part of a split line keeps the day it was split off: a workstation
    // that takes the split for one not yet done looks for the first series'
    // occurrences from that day on, and finds none.
    return series.FirstOfLine(key) == key ? QString(RecordKey::None) : dayKey(series.Rule().Start());
}

TSeriesWriter::Settled TSeriesWriter::settle(const QString& seriesKey, SeriesRecord& series, TOutcome* outcome)
{
    // Occurrences a writer began and never finished go: their alarms, their
    // entries (whose keys were set aside for them) and their links.
    // They lie after the day the occurrences were made up to: that moves on
    // only once they are made, and a change lowers it before making any.
    TLinks pending;
    const QString made = series.MadeUntil() == AllMade ? QString(RecordKey::None) : series.MadeUntil();
    for (const auto& entry : linksFrom(seriesKey, made))
        if (entry.second.Flags() & SeriesLinkRecord::Pending)
            pending << entry;
    apply(pending, nullptr, [&](const QString& linkKey, const SeriesLinkRecord& link, bool, TWrites& w) {
        dropAlarms(link.EntryKey(), w);
        w.entries << TXIsamFile::TBatchWrite{Kind::Remove, link.EntryKey(), QByteArray()};
        w.links << TXIsamFile::TBatchWrite{Kind::Remove, linkKey, QByteArray()};
        return true;
    });

    QList<THeld> held;
    int touched = 0;
    if (series.Splitting()) {
        // Split off another series: that one ends the day before, and its
        // occurrences from then on become this one's.
        const QString other = series.SplitFrom();
        const QDate from = dayOf(series.ChangeFrom());
        TRecordLock lock(*database_.Series(), other);
        if (!lock.Held())
            return Settled::Busy;
        keep(std::move(lock));
        SeriesRecord before;
        QString first = other;
        if (ReadSeries(other, before)) {
            first = before.FirstOfLine(other);
            if (endBefore(before, from))
                writeSeries(other, before);
            TBatch moves;
            for (const auto& [linkKey, link] : Links(other)) {
                if (link.DayKey() < dayKey(from))
                    continue;
                SeriesLinkRecord moved = link;
                moved.setOccurrence(seriesKey, link.DayKey());
                moves << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(moved.bytes())};
            }
            batch(*database_.SeriesLinks(), moves);
        }
        // Done, and a part of the line from then on.
        series.setSplitDone(first);
        writeSeries(seriesKey, series);
    }
    switch (series.Change()) {
    case SeriesRecord::Pending::None:
        break;
    case SeriesRecord::Pending::Rewrite:
        touched += rewrite(series, affected(seriesKey, dayOf(series.ChangeFrom()), false), held);
        series.setChange(SeriesRecord::Pending::None, resting(seriesKey, series));
        series.setFlags(series.Flags() & ~SeriesRecord::AlarmsKept);
        writeSeries(seriesKey, series);
        break;
    case SeriesRecord::Pending::Delete: {
        const QDate from = dayOf(series.ChangeFrom());
        const bool whole = from <= series.Rule().Start();
        touched += remove(affected(seriesKey, from, true), false, held);
        if (whole) {
            // Deleted days' links too, then the series.
            TBatch rest;
            for (const auto& [linkKey, link] : Links(seriesKey))
                rest << TXIsamFile::TBatchWrite{Kind::Remove, linkKey, QByteArray()};
            batch(*database_.SeriesLinks(), rest);
            writer_.remove(*database_.Series(), seriesKey);
            TDetailsWriter(database_, writer_).RemoveSeries(seriesKey);
            TBookingWriter(database_, writer_).RemoveSeries(seriesKey);
            if (outcome) {
                outcome->touched += touched;
                outcome->held << held;
            }
            return Settled::Gone;
        }
        series.setChange(SeriesRecord::Pending::None, resting(seriesKey, series));
        writeSeries(seriesKey, series);
        break;
    }
    }
    if (outcome) {
        outcome->touched += touched;
        outcome->held << held;
    }
    return Settled::Ready;
}

TSeriesWriter::TOutcome TSeriesWriter::Create(SeriesRecord& series, const QDate& today,
                                              const std::function<void(const QString&)>& reserved,
                                              const TEntryDetails& details)
{
    TOutcome outcome;
    if (!Available())
        return answer(Result::Unavailable);
    if (!series.Rule().IsValid())
        return answer(Result::NotInSeries);
    DetailRecords::Check(details);
    series.setMadeUntil(RecordKey::None);
    series.setChange(SeriesRecord::Pending::None, RecordKey::None);
    series.setSplitFrom(RecordKey::None);
    std::optional<TRecordLock> lock;
    TKeeping keeping(*this);
    const TCommandScope command(database_);
    insertLocked(series, outcome.seriesKey, lock, reserved);
    TDetailsWriter(database_, writer_).StoreSeries(outcome.seriesKey, series, details);
    outcome.touched = extendOne(outcome.seriesKey, series, today, INT_MAX);
    record(TChangeTrail::Action::SeriesAdded, outcome.seriesKey,
           counted(named(series, 60) + QStringLiteral(", ") + series.Rule().Summary() + QStringLiteral("; "), outcome,
                   "made"),
               nullptr, &series);
    return outcome;
}

void TSeriesWriter::insertLocked(const SeriesRecord& series, QString& key, std::optional<TRecordLock>& lock,
                                 const std::function<void(const QString&)>& reserved)
{
    // Locked from before the insert, so that no poll extends the new series
    // while its first occurrences are being made. A key locked elsewhere is
    // another workstation's about to be added (perhaps waiting for this
    // command): the next one is tried.
    TXIsamFile& all = *database_.Series();
    qint64 passed = 0;
    for (int attempt = 0; attempt < KeyAttempts; ++attempt) {
        const qint64 next = RecordKey::parse(all.NextKey());
        if (next <= 0)
            throw EQuorla(all.ErrorText());
        key = RecordKey::format(std::max(next, passed + 1));
        lock.emplace(all, key);
        if (!lock->Held()) {
            passed = RecordKey::parse(key);
            lock.reset();
            QThread::usleep(1000);
            continue;
        }
        // Added at or past the key meanwhile: chosen afresh.
        if (RecordKey::parse(all.NextKey()) > RecordKey::parse(key)) {
            lock.reset();
            QThread::usleep(1000);
            continue;
        }
        if (reserved) {
            if (!all.RaiseKeyMark(key))
                throw EQuorla(all.ErrorText());
            reserved(key);
        }
        if (writer_.insertUnder(all, key, series.bytes()))
            return;
        lock.reset();
        QThread::usleep(1000);
    }
    throw EQuorla(all.ErrorText());
}

TSeriesWriter::TOutcome TSeriesWriter::Change(const QString& seriesKey, Scope scope, const QDate& day,
                                              const SeriesRecord& changed, const QDate& today, HeldOccurrences policy,
                                              const QString& callerHolds, const std::optional<TEntryDetails>& details)
{
    if (details)
        DetailRecords::Check(*details);
    newDetails_ = details;
    TOutcome outcome;
    outcome.seriesKey = seriesKey;
    if (!Available())
        return answer(Result::Unavailable);
    if (scope == Scope::ThisOne || !changed.Rule().IsValid())
        return answer(Result::NotInSeries);
    callerHolds_ = callerHolds;
    const TRecordLock lock(*database_.Series(), seriesKey);
    if (!lock.Held())
        return answer(Result::SeriesLocked, seriesKey);
    // The new series of a split: locked until the commit.
    std::optional<TRecordLock> newLock;
    TKeeping keeping(*this);
    const TCommandScope command(database_);
    SeriesRecord series;
    if (!ReadSeries(seriesKey, series))
        return answer(Result::Gone, seriesKey);
    switch (settle(seriesKey, series)) {
    case Settled::Gone:
        return answer(Result::Gone, seriesKey);
    case Settled::Busy:
        return answer(Result::SeriesLocked, seriesKey);
    case Settled::Ready:
        break;
    }
    if (scope == Scope::EveryPart)
        return changeParts(seriesKey, series, changed, today, policy);
    const TRecurrenceRule old = series.Rule();
    TRecurrenceRule rule = changed.Rule();
    const bool split = scope == Scope::ThisAndFollowing && day > firstOccurrence(old);
    const QDate from = split ? day : std::min(old.Start(), rule.Start());
    if (policy == HeldOccurrences::Refuse) {
        outcome.held = probe(affected(seriesKey, from, false));
        if (!outcome.held.isEmpty()) {
            outcome.result = Result::Held;
            return outcome;
        }
    }
    if (!split) {
        changeWhole(seriesKey, series, changed, today, outcome);
        return outcome;
    }
    SeriesRecord next = noted(series, changed, from);
    rule.setStart(day);
    next.setRule(rule);
    next.setMadeUntil(dayKey(from.addDays(-1)));
    next.setFlags(next.Flags() & ~SeriesRecord::SplitDone);
    next.setSplitFrom(seriesKey);
    // The new series takes this one's lock again while it takes over the
    // occurrences (settle), and releases it then: this series is done by then.
    QString newKey;
    insertLocked(next, newKey, newLock, {});
    TBookingWriter(database_, writer_).CopySeries(seriesKey, newKey);
    // The part split off keeps the details it had, unless given new ones.
    TDetailsWriter(database_, writer_)
        .StoreSeries(newKey, next, details ? *details : TDetailsStore(database_).Series(seriesKey));
    outcome.seriesKey = newKey;
    if (settle(newKey, next, &outcome) != Settled::Ready)
        return outcome;
    outcome.touched += extendOne(newKey, next, today, INT_MAX);
    const QString how = QStringLiteral("this and following from ") + day.toString(Qt::ISODate);
    record(TChangeTrail::Action::SeriesChanged, seriesKey, how + QStringLiteral(": now series ") + newKey, &series,
           &series);
    recordChange(newKey, how + QStringLiteral(", split from ") + seriesKey, series, next, outcome);
    return outcome;
}

SeriesRecord TSeriesWriter::noted(const SeriesRecord& series, const SeriesRecord& changed, const QDate& from)
{
    // The new template and rule, and the change noted, in one write; then
    // the occurrences are rewritten as a writer finishing it would.
    SeriesRecord next = changed;
    next.setOwnerKey(series.OwnerKey());
    next.setChange(SeriesRecord::Pending::Rewrite, dayKey(from));
    // Noted with the change, so that whoever finishes it keeps the alarms
    // the same way.
    const qint32 alarm = SeriesRecord::AlarmWanted;
    const bool alarmsKept = (series.Flags() & alarm) && (changed.Flags() & alarm)
        && series.AlarmOffset() == changed.AlarmOffset();
    next.setFlags(alarmsKept ? (next.Flags() | SeriesRecord::AlarmsKept) : (next.Flags() & ~SeriesRecord::AlarmsKept));
    const QString before = dayKey(from.addDays(-1));
    next.setMadeUntil(RecordKey::isNone(series.MadeUntil()) ? RecordKey::None : std::min(series.MadeUntil(), before));
    return next;
}

void TSeriesWriter::changeWhole(const QString& key, const SeriesRecord& series, const SeriesRecord& changed,
                                const QDate& today, TOutcome& outcome)
{
    SeriesRecord next = noted(series, changed, std::min(series.Rule().Start(), changed.Rule().Start()));
    // A part of a split line stays in its line.
    const QString first = series.FirstOfLine(key);
    next.setFlags(next.Flags() & ~SeriesRecord::SplitDone);
    next.setSplitFrom(RecordKey::None);
    if (first != key)
        next.setSplitDone(first);
    writeSeries(key, next);
    if (newDetails_)
        TDetailsWriter(database_, writer_).StoreSeries(key, next, *newDetails_);
    if (settle(key, next, &outcome) != Settled::Ready)
        return;
    outcome.touched += extendOne(key, next, today, INT_MAX);
    recordChange(key, QStringLiteral("all"), series, next, outcome);
}

void TSeriesWriter::recordChange(const QString& key, const QString& how, const SeriesRecord& before,
                                 const SeriesRecord& next, const TOutcome& outcome)
{
    record(TChangeTrail::Action::SeriesChanged, key,
           counted(how + QStringLiteral(": ") + named(next, 50) + QStringLiteral(", ") + next.Rule().Summary()
                       + QStringLiteral("; "),
                   outcome, "touched"),
           &before, &next);
}

QStringList TSeriesWriter::lineOf(const QString& first)
{
    TXIsamFile& all = *database_.Series();
    QStringList keys;
    SeriesRecord series;
    const bool read = all.Range(series.bytes(), TXIsamFile::PrimaryIndex, RecordKey::None, AllMade, [&] {
        if (series.FirstOfLine(all.CurrentKey()) == first)
            keys << all.CurrentKey();
        return true;
    });
    if (!read && all.LastError() != IsamNotFound)
        throw EQuorla(all.ErrorText());
    return keys;
}

bool TSeriesWriter::lockParts(const QString& seriesKey, const SeriesRecord& series, std::vector<TRecordLock>& locks,
                              TParts& parts)
{
    parts = {{seriesKey, series}};
    for (const QString& key : lineOf(series.FirstOfLine(seriesKey))) {
        if (key == seriesKey)
            continue;
        TRecordLock lock(*database_.Series(), key);
        if (!lock.Held())
            return false;
        SeriesRecord part;
        const Settled settled = ReadSeries(key, part) ? settle(key, part) : Settled::Gone;
        if (settled == Settled::Busy)
            return false;
        if (settled == Settled::Ready)
            parts.append({key, part});
        // On a server kept until the commit; in a folder held by `locks`.
        keep(std::move(lock));
        locks.push_back(std::move(lock));
    }
    return true;
}

bool TSeriesWriter::heldIn(const TParts& parts, bool withExceptions, TOutcome& outcome)
{
    for (const auto& [key, part] : parts)
        outcome.held << probe(affected(key, part.Rule().Start(), withExceptions));
    if (!outcome.held.isEmpty())
        outcome.result = Result::Held;
    return !outcome.held.isEmpty();
}

TSeriesWriter::TOutcome TSeriesWriter::changeParts(const QString& seriesKey, const SeriesRecord& series,
                                                   const SeriesRecord& changed, const QDate& today,
                                                   HeldOccurrences policy)
{
    std::vector<TRecordLock> locks;
    TParts parts;
    if (!lockParts(seriesKey, series, locks, parts))
        return answer(Result::SeriesLocked, seriesKey);
    // Each part has its own days: only the time of day is every part's.
    TRecurrenceRule repeat = changed.Rule();
    repeat.setTime(series.Rule().Time());
    if (parts.size() > 1 && repeat != series.Rule())
        return answer(Result::PartsRepeat, seriesKey);
    TOutcome outcome;
    outcome.seriesKey = seriesKey;
    if (policy == HeldOccurrences::Refuse && heldIn(parts, false, outcome))
        return outcome;
    for (const auto& [key, part] : parts) {
        SeriesRecord own = changed;
        if (parts.size() > 1) {
            TRecurrenceRule rule = part.Rule();
            rule.setTime(changed.Rule().Time());
            own.setRule(rule);
        }
        TOutcome one;
        changeWhole(key, part, own, today, one);
        outcome.touched += one.touched;
        outcome.held << one.held;
    }
    return outcome;
}

TSeriesWriter::TOutcome TSeriesWriter::Delete(const QString& seriesKey, Scope scope, const QDate& day,
                                              HeldOccurrences policy, const QString& callerHolds)
{
    TOutcome outcome;
    outcome.seriesKey = seriesKey;
    if (!Available())
        return answer(Result::Unavailable);
    callerHolds_ = callerHolds;
    const TRecordLock lock(*database_.Series(), seriesKey);
    if (!lock.Held())
        return answer(Result::SeriesLocked, seriesKey);
    TKeeping keeping(*this);
    const TCommandScope command(database_);
    SeriesRecord series;
    if (!ReadSeries(seriesKey, series))
        return answer(Result::Gone, seriesKey);
    switch (settle(seriesKey, series)) {
    case Settled::Gone:
        return answer(Result::Gone, seriesKey);
    case Settled::Busy:
        return answer(Result::SeriesLocked, seriesKey);
    case Settled::Ready:
        break;
    }
    if (scope == Scope::ThisOne)
        return hides(seriesKey, day, day) ? answer(Result::Hidden, seriesKey) : deleteOne(seriesKey, series, day);
    if (scope == Scope::EveryPart)
        return deleteParts(seriesKey, series, policy);
    const TRecurrenceRule rule = series.Rule();
    const bool whole = scope == Scope::All || day <= firstOccurrence(rule);
    if (hides(seriesKey, whole ? QDate() : day, QDate()))
        return answer(Result::Hidden, seriesKey);
    if (policy == HeldOccurrences::Refuse) {
        outcome.held = probe(affected(seriesKey, whole ? rule.Start() : day, true));
        if (!outcome.held.isEmpty()) {
            outcome.result = Result::Held;
            return outcome;
        }
    }
    deleteFrom(seriesKey, series, whole, day, outcome);
    return outcome;
}

TSeriesWriter::TOutcome TSeriesWriter::deleteOne(const QString& seriesKey, const SeriesRecord& series,
                                                 const QDate& day)
{
    TOutcome outcome;
    outcome.seriesKey = seriesKey;
    SeriesLinkRecord link;
    TXIsamFile& links = *database_.SeriesLinks();
    if (!TLookup::Equal(links, link.bytes(), SeriesLinkRecord::OccurrenceIndex,
                        SeriesLinkRecord::occurrence(seriesKey, dayKey(day)))) {
        // A day of the rule beyond what is made yet (past the horizon, as
        // an imported calendar's exclusions may be) is kept as deleted
        // now, so that the extension never makes it.
        const TRecurrenceRule rule = series.Rule();
        const bool unmade = RecordKey::isNone(series.MadeUntil()) || dayKey(day) > series.MadeUntil();
        if (!unmade || series.MadeUntil() == AllMade || !rule.Days(day, day, 1).contains(day))
            return answer(Result::NotInSeries, seriesKey);
        link.setOccurrence(seriesKey, dayKey(day));
        link.setEntryKey(RecordKey::None);
        link.setFlags(SeriesLinkRecord::Deleted);
        link.setStart(entryOf(series, rule, day).StartTime());
        writer_.insert(links, link.bytes());
        record(TChangeTrail::Action::SeriesChanged, seriesKey,
               QStringLiteral("this one on %1: deleted before it was made").arg(day.toString(Qt::ISODate)),
               &series, &series);
        return outcome;
    }
    if (link.Flags() & SeriesLinkRecord::Deleted)
        return answer(Result::NotInSeries, seriesKey);
    const TLinks one{{links.CurrentKey(), link}};
    // One occurrence open elsewhere is simply locked, whatever the policy.
    outcome.held = probe(one);
    if (!outcome.held.isEmpty()) {
        outcome.result = Result::EntryLocked;
        return outcome;
    }
    QList<THeld> held;
    TBin(database_).KeepEntry(link.EntryKey());
    outcome.touched = remove(one, true, held);
    outcome.held << held;
    record(TChangeTrail::Action::SeriesChanged, seriesKey,
           counted(QStringLiteral("this one on %1: ").arg(day.toString(Qt::ISODate)), outcome, "deleted"),
           &series, &series);
    return outcome;
}

TSeriesWriter::TOutcome TSeriesWriter::deleteParts(const QString& seriesKey, const SeriesRecord& series,
                                                   HeldOccurrences policy)
{
    std::vector<TRecordLock> locks;
    TParts parts;
    if (!lockParts(seriesKey, series, locks, parts))
        return answer(Result::SeriesLocked, seriesKey);
    for (const auto& [key, part] : parts)
        if (hides(key, QDate(), QDate()))
            return answer(Result::Hidden, seriesKey);
    TOutcome outcome;
    outcome.seriesKey = seriesKey;
    if (policy == HeldOccurrences::Refuse && heldIn(parts, true, outcome))
        return outcome;
    for (auto& [key, part] : parts) {
        TOutcome one;
        deleteFrom(key, part, true, QDate(), one);
        outcome.touched += one.touched;
        outcome.held << one.held;
    }
    return outcome;
}

bool TSeriesWriter::hides(const QString& seriesKey, const QDate& from, const QDate& to)
{
    const QString first = from.isValid() ? dayKey(from) : QString(RecordKey::None);
    const QString last = to.isValid() ? dayKey(to) : AllMade;
    if (database_.ServerConnection() && database_.KeepsRoles())
        return TServerHidden::SeriesHides(database_, seriesKey, first, last).value_or(false);
    // In a folder every record reads: the rule is the server's read policy,
    // for the person acting (none: a tool acting for the office).
    const QString& me = database_.ActingUser();
    UserRecord user;
    if (RecordKey::isNone(me) || !TLookup::Equal(database_.Users(), user.bytes(), TXIsamFile::PrimaryIndex, me)
        || (user.Rights() & UserRecord::CanAdminister))
        return false;
    DayEntryRecord entry;
    for (const auto& [linkKey, link] : Links(seriesKey)) {
        if (link.DayKey() < first || link.DayKey() > last || (link.Flags() & SeriesLinkRecord::Deleted)
            || !TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey()))
            continue;
        if ((entry.Flags() & DayEntryRecord::Private) && entry.OwnerKey() != me && !entry.AssigneeKeys().contains(me))
            return true;
    }
    return false;
}

void TSeriesWriter::deleteFrom(const QString& seriesKey, SeriesRecord& series, bool whole, const QDate& day,
                               TOutcome& outcome)
{
    const QDate from = whole ? series.Rule().Start() : day;
    TBin(database_).KeepSeries(seriesKey, series, whole, dayKey(from));
    if (!whole)
        endBefore(series, day);
    series.setChange(SeriesRecord::Pending::Delete, dayKey(from));
    // Nothing stands from `from` on once done; and a deletion cut short is
    // then due for the next poll, which finishes it.
    const QString before = dayKey(from.addDays(-1));
    if (!RecordKey::isNone(series.MadeUntil()))
        series.setMadeUntil(std::min(series.MadeUntil(), before));
    writeSeries(seriesKey, series);
    settle(seriesKey, series, &outcome);
    record(whole ? TChangeTrail::Action::SeriesDeleted : TChangeTrail::Action::SeriesChanged, seriesKey,
           counted((whole ? QStringLiteral("all") : QStringLiteral("this and following from ") + day.toString(Qt::ISODate))
                       + QStringLiteral(": ") + named(series, 60) + QStringLiteral("; "),
                   outcome, "deleted"),
           &series, whole ? nullptr : &series);
}

int TSeriesWriter::ReworkTemplates(const std::function<TemplateAction(SeriesRecord&)>& rework,
                                   const QString& lockedMessage, const QString& why)
{
    if (!Available())
        return 0;
    TXIsamFile& all = *database_.Series();
    QStringList keys;
    SeriesRecord series;
    const bool read = all.Range(series.bytes(), TXIsamFile::PrimaryIndex, RecordKey::None, AllMade, [&] {
        keys << all.CurrentKey();
        return true;
    });
    if (!read && all.LastError() != IsamNotFound)
        throw EQuorla(all.ErrorText());
    int deleted = 0;
    for (const QString& key : keys) {
        TemplateAction action = TemplateAction::Keep;
        {
            const TRecordLock lock(all, key, lockedMessage);
            const TCommandScope command(database_);
            if (!ReadSeries(key, series))
                continue;
            SeriesRecord reworked = series;
            action = rework(reworked);
            if (action == TemplateAction::Write) {
                writeSeries(key, reworked);
                record(TChangeTrail::Action::SeriesChanged, key,
                       named(series, 60) + QStringLiteral(": ") + why,
               &series,
                       &reworked);
            }
        }
        if (action != TemplateAction::Delete)
            continue;
        const TOutcome outcome = Delete(key, Scope::All, QDate(), HeldOccurrences::Refuse);
        if (outcome.result != Result::Done && outcome.result != Result::Gone)
            throw EQuorla(lockedMessage);
        deleted += outcome.touched;
    }
    return deleted;
}

TSeriesWriter::TOutcome TSeriesWriter::ChangeOne(const QString& entryKey, const DayEntryRecord& entry,
                                                 AlarmRecord& alarm, const QString& openedAlarmTime,
                                                 const std::optional<TEntryDetails>& details)
{
    if (details)
        DetailRecords::Check(*details);
    if (!Available())
        return answer(Result::Unavailable);
    SeriesLinkRecord link;
    if (!LinkOf(entryKey, link))
        return answer(Result::NotInSeries);
    const QString seriesKey = link.SeriesKey();
    const TRecordLock lock(*database_.Series(), seriesKey);
    if (!lock.Held())
        return answer(Result::SeriesLocked, seriesKey);
    // The link's exception and the entry's change (with its alarms and
    // trail record) are one command; a refused entry change undoes it.
    TCommandScope command(database_);
    // Re-read under the series' lock: a series change may have just moved
    // or removed it.
    if (!LinkOf(entryKey, link))
        return answer(Result::NotInSeries, seriesKey);
    TXIsamFile& links = *database_.SeriesLinks();
    const QString linkKey = links.CurrentKey();
    // The exception is noted first: a kill before the entry is written
    // leaves an exception with the series' contents, which is harmless.
    if (!(link.Flags() & SeriesLinkRecord::Exception)) {
        link.setFlags(link.Flags() | SeriesLinkRecord::Exception);
        writer_.update(links, linkKey, link.bytes());
    }
    // Moved without a new alarm time, the alarm moves along, as far before
    // the start as it was.
    AlarmRecord moved = alarm;
    DayEntryRecord stored;
    if (!openedAlarmTime.isEmpty() && alarm.AlarmTime() == openedAlarmTime
        && TLookup::Equal(database_.DayEntries(), stored.bytes(), TXIsamFile::PrimaryIndex, entryKey)) {
        const qint64 by = RecordKey::parse(entry.StartTime()) - RecordKey::parse(stored.StartTime());
        moved.setAlarmTime(RecordKey::format(std::max<qint64>(0, RecordKey::parse(openedAlarmTime) + by)));
    }
    TEventWriter events(database_);
    events.OnWrite = writer_.OnWrite;
    switch (events.updateEntryWithAlarms(entryKey, entry, moved, openedAlarmTime)) {
    case TEventWriter::Result::Done:
        // Its own details from now on, even none: no longer the template's.
        if (details)
            TDetailsWriter(database_, writer_).StoreEntry(entryKey, entry, *details, true);
        return answer(Result::Done, seriesKey, 1);
    case TEventWriter::Result::Gone:
        return answer(Result::Gone, seriesKey);
    default:
        command.Undo();
        return answer(Result::EntryLocked, seriesKey);
    }
}

int TSeriesWriter::Extend(const QDate& today, int budget, const QString& ownerKey)
{
    if (!Available() || budget <= 0)
        return 0;
    TXIsamFile& all = *database_.Series();
    const QString below = RecordKey::format(RecordKey::parse(dayKey(Horizon(TRecurrenceRule(), today))) - 1);
    // Each series' extension is a few synchronous writes: a poll takes one.
    const int most = std::max(1, budget / ExtendPerPoll);
    // Each of those writes waits for the disk (a folder's sync; on a server
    // a statement more in the command, whose commit waits for it): a poll's
    // share is paced, one of them a poll, on both engines.
    pacing_ = budget <= ExtendPerPoll;
    const auto paced = qScopeGuard([this] { pacing_ = false; });
    QStringList due;
    SeriesRecord series;
    const bool read = all.Range(series.bytes(), SeriesRecord::MadeUntilIndex, RecordKey::None, below, [&] {
        if (!ownerKey.isEmpty() && series.OwnerKey() != ownerKey)
            return true;
        due << all.CurrentKey();
        return due.size() < most;
    });
    if (!read && all.LastError() != IsamNotFound)
        throw EQuorla(all.ErrorText());
    // Each series visited spends at least one of the budget, so a poll at
    // the turn of a day, when every series is due, stays short.
    int made = 0;
    int spent = 0;
    for (const QString& key : due) {
        if (spent >= budget)
            break;
        ++spent;
        callerHolds_.clear();
        // Another workstation extending or changing this series: its turn.
        const TRecordLock lock(all, key);
        // Due no more: extended elsewhere since the index was read.
        if (!lock.Held() || !ReadSeries(key, series) || series.MadeUntil() > below)
            continue;
        // Each series' extension is one command.
        TKeeping keeping(*this);
        const TCommandScope command(database_);
        // What a writer began is finished before anything else; left for a
        // later poll when pacing leaves some of it.
        TLinks after;
        const int finished = finish(key, series, after);
        if (finished < 0) {
            made -= finished;
            continue;
        }
        // With no change noted and no split, finish has dealt with every
        // pending occurrence: settle would only read the links again.
        const bool plain = series.Change() == SeriesRecord::Pending::None && !series.Splitting();
        if (!plain && settle(key, series) != Settled::Ready)
            continue;
        const int now = extendOne(key, series, today.addDays(ExtendAheadDays), budget - spent + 1,
                                  plain ? &after : nullptr);
        made += finished + now;
        spent += std::max(0, now - 1);
    }
    return made;
}

int TSeriesWriter::finish(const QString& seriesKey, const SeriesRecord& series, TLinks& after)
{
    // Begun under a change still noted, or a split: taken back with it
    // (settle).
    if (series.Change() != SeriesRecord::Pending::None || series.Splitting())
        return 0;
    const QString madeUntil = series.MadeUntil() == AllMade ? QString(RecordKey::None) : series.MadeUntil();
    after = linksFrom(seriesKey, madeUntil);
    TLinks pending;
    for (const auto& entry : after)
        if (entry.second.Flags() & SeriesLinkRecord::Pending)
            pending << entry;
    if (pending.isEmpty())
        return 0;
    // Their keys were set aside before their links were written: an entry
    // under one is the occurrence's, and a missing one nobody else takes.
    const TRecurrenceRule rule = series.Rule();
    TBatch entryWrites, alarmWrites, done;
    DayEntryRecord stored;
    for (const auto& [linkKey, link] : pending) {
        const DayEntryRecord entry = entryOf(series, rule, dayOf(link.DayKey()));
        if (!TLookup::Equal(database_.DayEntries(), stored.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey())) {
            entryWrites << TXIsamFile::TBatchWrite{Kind::Add, link.EntryKey(), bytes(entry.bytes())};
            addAlarms(series, link.EntryKey(), entry, alarmWrites);
        } else if (alarmsOf(link.EntryKey()).isEmpty()) {
            // The alarms go in one write for the whole batch: none at all
            // means that write was not made.
            addAlarms(series, link.EntryKey(), stored, alarmWrites);
        }
        SeriesLinkRecord made = link;
        made.setFlags(link.Flags() & ~SeriesLinkRecord::Pending);
        done << TXIsamFile::TBatchWrite{Kind::Replace, linkKey, bytes(made.bytes())};
    }
    // Paced, each of the three writes is a poll's.
    const int n = int(pending.size());
    for (auto [dataset, writes] : {std::pair{&database_.DayEntries(), &entryWrites},
                                   std::pair{&database_.Alarms(), &alarmWrites},
                                   std::pair{database_.SeriesLinks(), &done}}) {
        if (writes->isEmpty())
            continue;
        batch(*dataset, *writes);
        if (pacing_)
            return -n;
    }
    return n;
}
