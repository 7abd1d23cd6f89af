#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class AlarmRecord;
class DayEntryRecord;
class TQuorlaDB;
class UserRecord;

// The short readable summaries of the change trail ("time 10:00 → 11:30;
// assignee added: AB"). Users are named by their abbreviation and categories
// by their description, as the database holds them when the change is made.
// A summary always fits the trail's field: parts that do not fit are left out
// and a final "…" says so; a quoted text is shortened, between whole
// characters, with "…" inside its quotes. The records themselves keep every
// text whole; only this description of a change is shortened.
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
    // One user's alarm moved to `time`, or switched off (`time` empty).
    QString Alarm(const AlarmRecord& alarm, const QString& time);
    QString User(const UserRecord& user);
    QString UserChanged(const UserRecord& before, const UserRecord& after);

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
    // The description of category `key`, "none" for no category.
    QString CategoryNamed(const QString& key);

private:
    QString Moment(const DayEntryRecord& entry);

    TQuorlaDB& database_;
};
