#pragma once

#include "TEntryDetails.h"

#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TEventWriter.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class AlarmRecord;
class DayEntryRecord;
class TQuorlaDB;
class TXIsamFile;

// The record-level work on repeating events (series), without any dialog:
// what creating, changing and deleting a series writes, and under which
// locks. A series (SeriesRecord) holds the rule and the template; each
// occurrence is an ordinary day entry with one alarm per assignee, tied to
// its series and day by a link (SeriesLinkRecord). Occurrences exist from the
// start up to a horizon - Horizon(): HorizonMonths ahead of today, or the
// rule's last day when sooner - and the alarm poll extends each series a few
// occurrences at a time (Extend).
//
// Locks. Every write to a series and its occurrences is made under the
// series' record lock; another holder makes the call answer SeriesLocked and
// write nothing. Every occurrence a change rewrites or deletes is changed
// under its entry's lock: an occurrence whose entry is open elsewhere is
// either left as it is (HeldOccurrences::Leave: it becomes an exception, and
// the outcome lists it with its holder) or makes the whole call refuse
// (HeldOccurrences::Refuse: Result::Held, nothing written, the same list).
// Refuse looks before writing: an occurrence opened elsewhere in the moment
// between the look and its own rewrite is still left, and listed in a Done
// outcome - a caller shows `held` whenever it is not empty. Rights are the
// caller's to check (every occurrence a change touches is the series'
// template's: its owner and assignees).
// The caller's own open occurrence (`callerHolds`: the entry whose lock the
// caller already holds, as the event editor does) is changed under the
// caller's lock, never locked or released here.
//
// Writes go in batches of BatchSize occurrences: each batch is one
// transaction per dataset (links, entries, alarms) instead of one per record.
// A change is noted in the series record before its first write and cleared
// after its last, new occurrences' links are written (Pending) before their
// entries and alarms, and the keys of new entries are set aside first; so a
// workstation killed half-way leaves what the next writer of the series
// finishes (a noted change; pending occurrences, in the alarm poll) or rolls
// back (pending occurrences, in a command), before anything else: never two
// occurrences of one day, never one lost, never the alarms of a removed
// occurrence.
//
// On a server each call is one command (TCommandScope): the series, its
// links, entries and alarms and the trail's record commit together or not at
// all, and the locks taken on the way are kept until the commit. The steps
// above then matter only in a folder, where each batch stands alone.
//
// Failures other than locks throw EQuorla with the dataset's error text (on
// a server, with nothing written); in a folder the series is then left for
// the next writer to finish as above. A database without the series datasets
// answers Unavailable to every call.
class TSeriesWriter
{
public:
    // EveryPart: All over the whole line a series belongs to - the series
    // "this and following" split it into, and the one they were split off
    // (SeriesRecord::SplitFrom) - which is what "all events in the series"
    // means to the person. All: this series alone, as a calendar exchanged
    // with others knows it.
    enum class Scope { ThisOne, ThisAndFollowing, All, EveryPart };
    enum class HeldOccurrences { Leave, Refuse };
    enum class Result {
        Done,
        // Another holder has the series' lock: nothing written.
        SeriesLocked,
        // Refuse was asked and some occurrence is open elsewhere: nothing
        // written; `held` lists them.
        Held,
        // The series (or the occurrence's entry) is not stored any more.
        Gone,
        // The entry is not an occurrence of the series, or the change is not
        // one a series can take (an invalid rule).
        NotInSeries,
        // The database has no series datasets (TQuorlaDB::Series() null).
        Unavailable,
        // ThisOne: the occurrence's entry or one of its alarms is locked
        // elsewhere (TEventWriter's EntryLocked / AlarmLocked).
        EntryLocked,
        // EveryPart of a series split into parts: the change alters the
        // repeat (its days, its end or its first day), which each part has
        // its own; nothing written.
        PartsRepeat,
        // Delete: an occurrence it would take is another's private one,
        // which the acting person may not read (TQuorlaDB::ActingUser: not
        // its owner, not among its assignees, no administrator): nothing
        // written. A server would leave such a row where it is.
        Hidden,
    };

    // An occurrence left as it was because its entry is open elsewhere.
    struct THeld
    {
        QDate day;
        QString entryKey;
        // THolderNotes::HolderOf's line; empty when no note tells.
        QString holder;
    };

    struct TOutcome
    {
        Result result = Result::Done;
        // The series written (create: the new one; this and following: the
        // one the occurrences from that day now belong to).
        QString seriesKey;
        // Occurrences made, rewritten or deleted.
        int touched = 0;
        QList<THeld> held;
    };

    static constexpr int HorizonMonths = 12;
    static constexpr int BatchSize = 64;
    // New occurrences one poll makes at most, over all series.
    static constexpr int ExtendPerPoll = 8;
    // How far past its horizon a poll makes a series that is due: a week, so
    // that a daily series costs a poll's writes once a week, not every day,
    // and a weekly one once per occurrence.
    static constexpr int ExtendAheadDays = 7;

    explicit TSeriesWriter(TQuorlaDB& database);

    // Told of every write (observers only: the reliability check's log).
    std::function<void(const TRecordWriter::TWrite&)>& OnWrite;

    bool Available() const;

    // The last day occurrences are made up to for `rule` on `today`.
    static QDate Horizon(const TRecurrenceRule& rule, const QDate& today);

    // The entry `series` makes for its occurrence on `day` (who sees it, its
    // category and text), before it is made.
    static DayEntryRecord Occurrence(const SeriesRecord& series, const QDate& day);
    // The first of `series`' days from `from` to `to` whose occurrence is not
    // made yet (past its horizon); an invalid date when there is none.
    static QDate FirstUnmade(const SeriesRecord& series, const QDate& from, const QDate& to);

    // Reads the series `key`; false when there is none.
    bool ReadSeries(const QString& key, SeriesRecord& series);
    // The link of entry `entryKey` (its series and day); false when the entry
    // is no occurrence. One index read: what the views' mark of a repeating
    // entry and the editor's three-way question go by.
    bool LinkOf(const QString& entryKey, SeriesLinkRecord& link);
    // The keys of every entry that is an occurrence: one range read of the
    // link dataset's entry-key index (deleted days left out). What the
    // views' mark of a repeating entry goes by, read again only when the
    // links change (TXIsamFile::ChangeMark), as the alarm marks are.
    // `exceptions`, when given, gets the keys of those among them that no
    // longer follow their series (SeriesLinkRecord::Exception).
    QSet<QString> OccurrenceKeys(QSet<QString>* exceptions = nullptr);
    // Every link of a series in day order, with their keys.
    QList<std::pair<QString, SeriesLinkRecord>> Links(const QString& seriesKey);

    // Inserts `series` (its template and rule; owner, flags and assignees as
    // the caller filled them, nothing made yet) and its occurrences up to the
    // horizon. NotInSeries for an invalid rule. `reserved`, when given, is
    // told the series' key before the series is written, the key set aside
    // first as TEventWriter::insertEntryWithAlarms does.
    // `details` are the template's, and so every occurrence's.
    TOutcome Create(SeriesRecord& series, const QDate& today,
                    const std::function<void(const QString& key)>& reserved = {},
                    const TEntryDetails& details = {});

    // Changes the series `seriesKey` to `changed`'s template and rule.
    // - All: every occurrence but the exceptions; the occurrences on days the
    //   new rule no longer has are deleted, the new days are made.
    // - ThisAndFollowing: the same from `day` on: the series is split there,
    //   the old one ending the day before (an end after N occurrences becomes
    //   that date), and `seriesKey` of the outcome is the new one, whose rule
    //   starts on `day` and ends as `changed`'s does; on the first
    //   occurrence's day it is All.
    // - EveryPart: All on every part of the line, each keeping its own
    //   repeat and first day and taking the rest of `changed` (template and
    //   time of day); PartsRepeat when `changed` alters the repeat of a
    //   split line. Another holder of any part's lock: SeriesLocked.
    // - ThisOne: use ChangeOne.
    // The owner stays the series'; everything else is `changed`'s. A change
    // that leaves the alarm alone (wanted before and after, as far before
    // the start) leaves each person's alarm of an occurrence whose start
    // stays as it stands, snoozed or switched off: only the alarms of users
    // no longer assigned go, and a user newly assigned gets one. Otherwise
    // the occurrence's alarms are made anew from the template. Exceptions
    // stay as they are, also on a day the new rule no longer has. An
    // occurrence open elsewhere is left as an exception or refuses the call
    // (`held`); the outcome counts the occurrences rewritten, deleted and
    // made. An occurrence deleted on its own as a plain entry becomes a
    // deleted day.
    // `details`: the template's new details; without, they stay as stored.
    TOutcome Change(const QString& seriesKey, Scope scope, const QDate& day, const SeriesRecord& changed,
                    const QDate& today, HeldOccurrences held, const QString& callerHolds = QString(),
                    const std::optional<TEntryDetails>& details = std::nullopt);

    // Deletes occurrences with their alarms:
    // - All: every occurrence, exceptions too, and the series;
    // - EveryPart: All on every part of the line;
    // - ThisAndFollowing: every occurrence from `day` on, and the rule ends
    //   the day before unless it ends sooner already (from the first day it
    //   is All);
    // - ThisOne: the occurrence of `day` alone; its day is kept as deleted so
    //   that the series never makes it again. Open elsewhere: EntryLocked
    //   with `held` naming the holder, nothing written. A day of the rule
    //   not made yet (beyond the horizon) is kept as deleted all the same.
    //   NotInSeries when the series has no occurrence that day otherwise.
    // An occurrence open elsewhere is left (a plain entry from then on, no
    // longer in the series) or refuses the call, as `held` says; one the
    // acting person may not read refuses it whatever `held` says (Hidden).
    // The trail gets one record, with the count.
    TOutcome Delete(const QString& seriesKey, Scope scope, const QDate& day, HeldOccurrences held,
                    const QString& callerHolds = QString());

    // Event properties of one occurrence, with the entry's lock held by the
    // caller: TEventWriter::updateEntryWithAlarms (its alarm rules, its trail
    // record), the occurrence becoming an exception that later series
    // changes leave alone. SeriesLocked while a series change runs
    // elsewhere; EntryLocked for an alarm locked elsewhere; Gone when the
    // entry went.
    // Changing one occurrence's day is allowed: it stays the exception of
    // the day the rule gave it. An occurrence moved while its alarm time
    // stays as `openedAlarmTime` gives it keeps its alarm as far before its
    // start as it was (every alarm then made anew at the moved time).
    // `details`: the occurrence's own new details; without, they stay.
    TOutcome ChangeOne(const QString& entryKey, const DayEntryRecord& entry, AlarmRecord& alarm,
                       const QString& openedAlarmTime, const std::optional<TEntryDetails>& details = std::nullopt);

    // What ReworkTemplates does with one template.
    enum class TemplateAction { Keep, Write, Delete };
    // For the passes that change records across the database (a user's
    // removal, a category's deletion): applies `rework` to every series'
    // template, under the series' lock and on the record as it is under the
    // lock. Write stores the template, leaving its occurrences to the
    // caller's own pass over the entries (they are entries); Delete deletes
    // the series with every occurrence and its alarms. A series locked
    // elsewhere, or an occurrence open elsewhere, throws
    // EQuorla(lockedMessage): what was done stays done, and running it again
    // finishes the rest. `why` ends the trail's summaries. Answers the
    // occurrences deleted.
    int ReworkTemplates(const std::function<TemplateAction(SeriesRecord&)>& rework, const QString& lockedMessage,
                        const QString& why);

    // The alarm poll's share: makes at most `budget` new occurrences, over
    // one of the series whose occurrences end before their horizon for each
    // ExtendPerPoll of the budget (one at least: a poll's writes stay those
    // of one series however many are due at once, and the polls after it
    // take the others), each under its series' lock (a series locked
    // elsewhere is left to that holder, so two workstations never make the
    // same occurrence), first finishing or rolling back what a writer of it left
    // half-done. A due series is made up to ExtendAheadDays past its horizon
    // (budget allowing) and its MadeUntil set to the day before its next
    // occurrence after that: it is due again only when the horizon reaches
    // that occurrence. Each series extended costs the same few writes
    // however many occurrences it gets (the key mark, the links, the
    // entries, the alarms, the links made, the series). Since each of them
    // waits for the disk (a folder's sync, a server's commit), a budget of
    // one poll's share or less paces them, on both engines: a poll makes
    // one, in a command of its own - the keys set aside (which only this
    // process knows of until the next poll links them: lost with it, they
    // are keys nobody uses); or the pending links; or their entries; or
    // their alarms; or the links made; or the series - and the next polls
    // go on. Occurrences begun and left pending (by a paced
    // poll, or by a writer killed on the way) are finished, not taken back,
    // unless begun under a change still noted. Answers how many occurrences
    // it made or took a step further; one index read when no series is due.
    // Only the series of `ownerKey`, when given: where the server enforces
    // who may add entries, a person adds occurrences to his own series only.
    int Extend(const QDate& today, int budget = ExtendPerPoll, const QString& ownerKey = QString());

private:
    using TLinks = QList<std::pair<QString, SeriesLinkRecord>>;
    enum class Settled { Ready, Gone, Busy };

    static QDate firstOccurrence(const TRecurrenceRule& rule);
    // Records a change of the series from template `before` to `after` (null:
    // none on that side), behind the readers mark they give it.
    void record(TChangeTrail::Action action, const QString& seriesKey, const QString& summary,
                const SeriesRecord* before, const SeriesRecord* after);
    // `head` and "N occurrences <verb>; M left open elsewhere: <day> <who
    // holds it>, ...", fitted to a trail summary by shortening `head`.
    static QString counted(const QString& head, const TOutcome& outcome, const char* verb);
    // The series as its trail records name it: its description quoted in at
    // most `room` bytes, and the people it is for.
    QString named(const SeriesRecord& series, int room);

    using TParts = QList<std::pair<QString, SeriesRecord>>;
    // The parts of the line `series` (stored as `seriesKey`, locked and
    // settled) belongs to, itself first, the others locked (held in
    // `locks` or kept) and settled; false when another holds one.
    bool lockParts(const QString& seriesKey, const SeriesRecord& series, std::vector<TRecordLock>& locks,
                   TParts& parts);
    // The keys of the series whose line begins at `first`.
    QStringList lineOf(const QString& first);
    // Refuse's look over every part: true (`outcome` Held, naming them)
    // when some occurrence is open elsewhere.
    bool heldIn(const TParts& parts, bool withExceptions, TOutcome& outcome);
    TOutcome changeParts(const QString& seriesKey, const SeriesRecord& series, const SeriesRecord& changed,
                         const QDate& today, HeldOccurrences policy);
    TOutcome deleteParts(const QString& seriesKey, const SeriesRecord& series, HeldOccurrences policy);
    // `changed` noted on `series` as a rewrite from `from` on.
    static SeriesRecord noted(const SeriesRecord& series, const SeriesRecord& changed, const QDate& from);
    // All on the series `key` (`series` as read and settled).
    void changeWhole(const QString& key, const SeriesRecord& series, const SeriesRecord& changed, const QDate& today,
                     TOutcome& outcome);
    // Records a change of the series `key` from template `before` to `next`.
    void recordChange(const QString& key, const QString& how, const SeriesRecord& before, const SeriesRecord& next,
                      const TOutcome& outcome);
    // Delete's ThisOne on the series `seriesKey` (`series` as read and
    // settled, its lock held).
    TOutcome deleteOne(const QString& seriesKey, const SeriesRecord& series, const QDate& day);
    // Whether an occurrence of the series `seriesKey` on a day from `from` to
    // `to` is one the acting person may not read (Result::Hidden).
    bool hides(const QString& seriesKey, const QDate& from, const QDate& to);
    // Deletes the series `key` from `day` on (`whole`: all of it).
    void deleteFrom(const QString& key, SeriesRecord& series, bool whole, const QDate& day, TOutcome& outcome);
    // What ChangeFrom holds while no change is under way.
    static QString resting(const QString& key, const SeriesRecord& series);

    // Under the series' lock: rolls back its pending occurrences, finishes a
    // split it was made by, and finishes a noted change. Gone: a noted
    // deletion of the whole series is done; Busy: the series it was split
    // from is locked elsewhere (nothing more done now). Adds what it touched
    // and left to `outcome`.
    Settled settle(const QString& seriesKey, SeriesRecord& series, TOutcome* outcome = nullptr);
    // Inserts a series under a key locked before the insert; `key` is set,
    // and `lock` holds its lock.
    void insertLocked(const SeriesRecord& series, QString& key, std::optional<TRecordLock>& lock,
                      const std::function<void(const QString&)>& reserved);
    // The occurrences of `links` open elsewhere (their locks are tried and
    // released at once).
    QList<THeld> probe(const TLinks& links);
    // writeBatch of a non-empty batch.
    void batch(TXIsamFile& dataset, QList<TXIsamFile::TBatchWrite>& writes);
    // The writes one batch of occurrences makes, in the order they go:
    // alarms first (on a server those added after the entries), links
    // last, so that a kill in between leaves links the next writer deals
    // with again, never alarms of a removed entry.
    struct TWrites
    {
        QList<TXIsamFile::TBatchWrite> alarms;
        QList<TXIsamFile::TBatchWrite> entries;
        // On a server, the adds of `alarms`: they go after the entries.
        QList<TXIsamFile::TBatchWrite> added;
        QList<TXIsamFile::TBatchWrite> links;
    };
    // What `each` does with one link: adds its writes, answers whether the
    // occurrence counts as touched. `left`: its entry is open elsewhere
    // (the link's writes alone are then wanted).
    using TEach = std::function<bool(const QString& linkKey, const SeriesLinkRecord& link, bool left, TWrites& writes)>;
    // The one loop over occurrences: BatchSize links at a time, their
    // entries' locks taken when `held` is given (the ones open elsewhere
    // listed there), `each` asked for every link, then one transaction per
    // dataset. Answers how many were touched.
    int apply(const TLinks& links, QList<THeld>* held, const TEach& each);
    // The removal of every alarm of `entryKey`.
    void dropAlarms(const QString& entryKey, TWrites& writes);
    // The links of a series from day key `fromDayKey` on.
    TLinks linksFrom(const QString& seriesKey, const QString& fromDayKey);
    // The pending occurrences of a series (settled or not) made whole:
    // their missing entries and alarms written, then their links marked
    // made. Answers how many were finished; when pacing and entries or
    // alarms had to be written, minus how many, the links left pending for
    // the next poll.
    // `after`: the series' links after the day it is made up to, as read
    // before finishing (their days, what extendOne goes by).
    int finish(const QString& seriesKey, const SeriesRecord& series, TLinks& after);
    // Makes the occurrences of `days` (none of them linked yet).
    int make(const QString& seriesKey, const SeriesRecord& series, const QList<QDate>& days);
    // make's paced step (paused_): the first batch's keys set aside, or
    // the pending links of those the poll before set aside.
    int makePaced(const QString& seriesKey, const SeriesRecord& series, const QList<QDate>& days);
    // Sets aside `n` new entry keys (locked in `locks`, the key mark raised
    // past them, none of them taken): answers the first, or 0 when they are
    // to be tried again (`passed`: past the keys found locked elsewhere).
    qint64 claimKeys(qint64 n, qint64& passed, std::optional<TRecordLocks>& locks);
    enum class Made { Done, Paused, Again };
    // Makes the occurrences of `chunk` under the keys from `first` on, set
    // aside: pending links, entries, alarms, links made. Paused: pacing
    // stopped after the pending links; Again: a key was taken, nothing
    // written, new keys are wanted.
    Made makeChunk(const QString& seriesKey, const SeriesRecord& series, const QList<QDate>& chunk, qint64 first);
    // Makes the days from the day after MadeUntil up to the horizon of
    // `today`, at most `budget`, and moves MadeUntil on (past the horizon up
    // to the day before the next occurrence); answers how many were made.
    // `known`: the series' links from that day on, when read already.
    int extendOne(const QString& seriesKey, SeriesRecord& series, const QDate& today, int budget,
                  const TLinks* known = nullptr);
    // Rewrites (days the rule has) or deletes (others) the occurrences of
    // `links` after the template and rule of `series`; the ones open
    // elsewhere become exceptions, listed in `held`.
    int rewrite(const SeriesRecord& series, const TLinks& links, QList<THeld>& held);
    // Deletes the occurrences of `links` with their alarms; their links are
    // removed, or kept as deleted days with `keepDays`. The ones open
    // elsewhere stay as plain entries (their links go), listed in `held`.
    int remove(const TLinks& links, bool keepDays, QList<THeld>& held);
    // Takes the entry locks of the occurrences of `links` (all but
    // callerHolds_); the ones held elsewhere go to `held`.
    void lockEntries(const TLinks& links, std::vector<TRecordLock>& locks, QList<THeld>& held);
    // The links from `from` on that a change touches (Pending and Deleted
    // ones never; exceptions only `withExceptions`).
    TLinks affected(const QString& seriesKey, const QDate& from, bool withExceptions);
    void writeSeries(const QString& key, const SeriesRecord& series);
    void writeLinks(QList<TXIsamFile::TBatchWrite>& writes);
    // The alarms of `entryKey`: their keys and users.
    QList<std::pair<QString, QString>> alarmsOf(const QString& entryKey);
    // The alarms of occurrence `entryKey` rewritten from `before` to
    // `after`, the template `series` being noted to keep the alarms
    // (SeriesRecord::AlarmsKept) or not.
    void rewriteAlarms(const SeriesRecord& series, const QString& entryKey, const DayEntryRecord& before,
                       const DayEntryRecord& after, TWrites& writes);
    // The entry of occurrence `day` of `series` (whose rule is `rule`), and
    // the adds of its alarms.
    static DayEntryRecord entryOf(const SeriesRecord& series, const TRecurrenceRule& rule, const QDate& day);
    // `users`: only theirs (all the entry's assignees when not given).
    static void addAlarms(const SeriesRecord& series, const QString& entryKey, const DayEntryRecord& entry,
                          QList<TXIsamFile::TBatchWrite>& writes,
                          const std::optional<QStringList>& users = std::nullopt);

    // While it lives, on a server, the locks handed to keep() stay held
    // until it goes: declared before a call's TCommandScope, after its
    // commit.
    class TKeeping
    {
    public:
        explicit TKeeping(TSeriesWriter& writer);
        ~TKeeping();
        TKeeping(const TKeeping&) = delete;
        TKeeping& operator=(const TKeeping&) = delete;

    private:
        TSeriesWriter& writer_;
        bool outer_;
    };
    // Keeps `lock` until the command ends (on a server), or lets it go now.
    void keep(TRecordLock&& lock);

    TQuorlaDB& database_;
    TRecordWriter writer_;
    // The entry whose lock the caller holds, during one call.
    QString callerHolds_;
    // The template's new details of the change under way (Change); none:
    // they stay as stored.
    std::optional<TEntryDetails> newDetails_;
    // Extend's pacing (see Extend), and whether make() stopped
    // there.
    bool pacing_ = false;
    bool paused_ = false;
    bool keeping_ = false;
    std::vector<TRecordLock> kept_;
};
