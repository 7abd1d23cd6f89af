#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class AlarmRecord;
class DayEntryRecord;
class SeriesRecord;
class TQuorlaDB;
class UserRecord;

// The short readable summaries of the change trail ("time 10:00 → 11:30;
// assignee added: AB"). Users are named by their abbreviation and categories
// by their description, as the database holds them when the change is made.
// A summary always fits the trail's field: parts that do not fit are left out
// and a final "…" says so; a quoted text is shortened, between whole
// characters, with "…" inside its quotes. The records themselves keep every
// text whole; only this description of a change is shortened.
//
// The summary of an entry (or of a repeating event's template, OfSeries) that
// is private on either side of the change opens with its readers mark:
// "private to 3,12" (the keys, without their leading zeros, of the users who
// could see the entry both before and after it), or
// "private" alone when no assignee could or the keys do not fit in MarkRoom.
// Who may read a trail record is decided from it (TTrailVisibility); a change
// of privacy ("made private", "made public") comes right after it, so that
// it is never the part a full summary leaves out.
//
// A user's own summaries (added, changed, removed) open with his user name and
// quoted full name as they are after the change, so that the trail names him
// even once he is gone (NameIn).
class TChangeSummary
{
public:
    explicit TChangeSummary(TQuorlaDB& database);

    // An entry as added or deleted: its description, moment, assignees, alarm.
    QString Entry(const DayEntryRecord& entry, const std::optional<QString>& alarmTime);
    // What differs between two states of an entry; `alarmBefore`/`alarmAfter`
    // are the alarm times, none without an alarm. "no change" when nothing does.
    QString EntryChanged(const DayEntryRecord& before, const std::optional<QString>& alarmBefore,
                         const DayEntryRecord& after, const std::optional<QString>& alarmAfter);
    // `words` on a change that left the entry's privacy and assignees as they
    // were, behind its readers mark.
    static QString OfEntry(const DayEntryRecord& entry, const QString& words);
    // `words` on a change of a repeating event's template from `before` to
    // `after` (null: that side is missing), behind the readers mark and the
    // change of privacy an entry so changed would have.
    static QString OfSeries(const SeriesRecord* before, const SeriesRecord* after, const QString& words);
    // One user's alarm moved to `time`, or switched off (`time` empty).
    QString Alarm(const AlarmRecord& alarm, const QString& time);
    QString User(const UserRecord& user);
    QString UserChanged(const UserRecord& before, const UserRecord& after);

    // Room the readers mark takes at most.
    static constexpr int MarkRoom = 100;
    // The readers a summary's mark names, as user keys (empty: none but
    // administrators); nothing when the summary has no mark - the entry was
    // public, or the record is older than the marks.
    static std::optional<QStringList> ReadersIn(const QString& summary);
    // The summary as shown: its mark as "private", without the keys.
    static QString Shown(const QString& summary);
    // The full name a user's own summary opens with; nothing when it does
    // not (a summary written before the names were kept).
    static std::optional<QString> NameIn(const QString& summary);

    // The parts joined with "; ", as many as fit `capacity` bytes.
    static QString Join(const QStringList& parts, int capacity);
    // `text` in quotes, shortened to at most `capacity` bytes with the quotes.
    static QString Quoted(const QString& text, int capacity);
    // A time key as "hh:nn", and with its day as "dd/mm/yy hh:nn"; "?" for
    // a key that is no moment a stamp can hold.
    static QString TimeOf(const QString& key);
    static QString MomentOf(const QString& key);

    // The abbreviation of user `key`, else his full name, else the key.
    QString UserNamed(const QString& key);
    // "for " and the assignees `keys` so named, joined by ","; empty for none.
    QString ForAssignees(const QStringList& keys);
    // The description of category `key`, "none" for no category.
    QString CategoryNamed(const QString& key);

private:
    QString Moment(const DayEntryRecord& entry);
    // The user name and quoted full name a user's summary opens with.
    static QStringList Named(const UserRecord& user);

    TQuorlaDB& database_;
    // The names UserNamed found, read once for the summaries of one object
    // (a batch of new entries names the same few users over and over).
    QHash<QString, QString> userNames_;
};
