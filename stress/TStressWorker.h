#pragma once

#include "TEventWriter.h"
#include "TSeriesWriter.h"
#include "TServices.h"

#include <QRandomGenerator>
#include <QString>

#include <functional>
#include <memory>

class AlarmRecord;
class TQuorlaDB;
class TStressLog;

// One workstation of the reliability check: its own database objects (one for
// the commands, one for the alarm poll, as the program keeps them) and its own
// user, doing what people do until a deadline - new events with alarms for
// several assignees, changing them (assignees, alarm on and off), deleting
// them, answering its due alarms by snoozing or switching them off, adding,
// renaming and deleting categories, removing users through the delete-user
// pass and adding new ones, making repeating events (series) and changing or
// deleting them as the three-way question of an occurrence offers (this one,
// this and following, all) - through the program's own write paths. Every
// write is logged before it is made and once it succeeded, with the text the
// command meant to store. Descriptions are of every length up to the field's
// capacity in UTF-8 bytes, with accents and other signs, and now and then
// longer: the record must refuse those, never cut them.
//
// It does only what its user's rights let the program offer him: plain users
// add their own entries and series, change and delete others' only with the
// right to change others' entries, and never touch categories or users;
// only administrators give an entry another owner.
class TStressWorker
{
public:
    // A new session of the worker's own, as the program opens one.
    using TConnect = std::function<std::unique_ptr<TQuorlaDB>()>;
    TStressWorker(const TConnect& connect, int userNumber, int userCount, quint64 seed, TStressLog& log);
    ~TStressWorker();

    // Works until the monotonic clock reaches `until` (TStressLog::now()).
    // Returns the number of commands that failed with an error.
    int run(qint64 until);

private:
    // After each command from one that found the server out of reach until a
    // write is answered again: a pause, twice the last one (never past `until`).
    void waitOutOutage(qint64 until);
    void newEvent();
    void changeEvent();
    void deleteEvent();
    void pollAlarms();
    void addCategory();
    void renameCategory();
    void deleteCategory();
    void removeUser();
    void newSeries();
    void changeSeries();
    // Change or delete of an occurrence's series from its day on, or all.
    void changeSeries(TSeriesWriter& writer, const SeriesLinkRecord& link, TSeriesWriter::Scope scope);
    void deleteSeries(TSeriesWriter& writer, const SeriesLinkRecord& link, TSeriesWriter::Scope scope);
    // Logs the trail record a series command that was done leaves (TStressLog's
    // T line) and the occurrences it left because they were open elsewhere.
    void seriesDone(const TSeriesWriter::TOutcome& outcome, char action, const QString& key);
    TRecurrenceRule randomRule(const QDate& near);
    // A random template: description (cut to its field), owner, category,
    // assignees, private flag and alarm; the rule is set apart.
    void randomTemplate(SeriesRecord& series);
    // Logs every write still open as failed: a batch that threw and that
    // its writer got over (nothing of it was made).
    void closeOpen();
    int answerAlarm(AlarmRecord& alarm, const QString& key, TQuorlaDB& database);

    QString randomKey(class TXIsamFile& dataset);
    // Fills the entry with random contents; false (nothing to write) when the
    // description drawn was too long and the record refused it, as it must.
    bool randomEntry(class DayEntryRecord& entry, class AlarmRecord& alarm);
    QString randomText(int capacity);
    void attach(std::function<void(const TRecordWriter::TWrite&)>& onWrite, TQuorlaDB& database);
    void logged(char phase, char dataset, char kind, const QString& key, const QByteArray& bytes,
                const QString& text = QString());

    // Whether the program lets the user change entries owned by `owner`.
    bool mayChange(const QString& owner) const;
    bool administers() const;

    int user_;
    int users_;
    qint32 rights_ = 0;
    QRandomGenerator random_;
    TStressLog& log_;
    std::unique_ptr<TQuorlaDB> database_;
    std::unique_ptr<TQuorlaDB> alarmDatabase_;
    QByteArray command_;
    qint64 seq_ = 0;
    // The writes told before they are made and not yet after: a batch tells
    // all of them before any is made.
    struct TOpen
    {
        qint64 seq;
        char dataset;
        char kind;
        QString key;
    };
    QList<TOpen> open_;
    int answered_ = 0;
    // Whether the server is out of reach, and the last pause since then.
    bool away_ = false;
    qint64 outagePause_ = 0;
    // The text the command means to store (see TStressLog).
    QString text_;
};
