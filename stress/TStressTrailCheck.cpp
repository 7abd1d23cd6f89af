#include "TStressTrailCheck.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "HolderNoteRecord.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "TChangeTrail.h"
#include "TLookup.h"
#include "TStressLog.h"
#include "TXIsamFile.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>

#include <cstdio>

namespace {

using Action = TChangeTrail::Action;

// The change each kind of acknowledged write of a command stands for; writes
// not listed (alarms made and removed with their entry) have none of their own.
struct Meaning
{
    const char* command;
    char dataset;
    char kind;
    Action action;
};
constexpr Meaning Meanings[] = {
    {"new", 'E', 'I', Action::EventAdded},
    {"props", 'E', 'U', Action::EventChanged},
    {"keep", 'E', 'U', Action::EventChanged},
    {"delete", 'E', 'D', Action::EventDeleted},
    {"snooze", 'A', 'U', Action::AlarmSnoozed},
    {"off", 'A', 'D', Action::AlarmSwitchedOff},
    {"orphan", 'A', 'D', Action::AlarmSwitchedOff},
    {"catadd", 'C', 'I', Action::CategoryAdded},
    {"catren", 'C', 'U', Action::CategoryRenamed},
    {"catdel", 'E', 'U', Action::EventChanged},
    {"catdel", 'C', 'D', Action::CategoryDeleted},
    {"deluser", 'E', 'U', Action::EventChangedByRemoval},
    {"deluser", 'E', 'D', Action::EventDeletedByRemoval},
    {"deluser", 'U', 'D', Action::UserRemoved},
    {"useradd", 'U', 'I', Action::UserAdded},
};

QString datasetFile(char dataset)
{
    switch (dataset) {
    case 'E':
        return DayEntryRecord::FileName;
    case 'A':
        return AlarmRecord::FileName;
    case 'C':
        return CategoryRecord::FileName;
    default:
        return UserRecord::FileName;
    }
}

QString tuple(const QString& host, qint32 action, const QString& dataset, const QString& key)
{
    return QStringLiteral("%1 %2 %3 %4").arg(host).arg(action).arg(dataset, key);
}

void say(const QString& text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

TStressTrailCheck::TStressTrailCheck(TDatabaseLocation location, QString logFolder, QStringList killedLogs)
    : location_(std::move(location)), logFolder_(std::move(logFolder)), killed_(std::move(killedLogs))
{
}

void TStressTrailCheck::check(QStringList& faults)
{
    // What the logs say was changed, and which of it a kill or an error cut.
    QHash<QString, int> expected;
    QHash<QString, int> mayLack;
    QHash<QString, int> byError;
    QHash<QString, int> optional;
    // Series actions, one record per command, by workstation and series:
    // the actions a command that was done may have recorded (this and
    // following from the first day is the whole series: either), whether it
    // was cut; and the series whose record a command cut short, a user's
    // removal or a category's deletion may have left (they record every
    // template they rewrite or series they delete).
    struct TSeriesAction
    {
        QList<qint32> actions;
        bool cut = false;
    };
    QHash<QString, QList<TSeriesAction>> seriesExpected;
    QSet<QString> seriesAllowed;
    const QStringList logs = QDir(logFolder_).entryList({QStringLiteral("worker*.log")}, QDir::Files);
    // Workers whose server session was lost under a command (on a server
    // an error ends the session's transaction): a holder note such a
    // session had made may be left, as a killed worker's is.
    QSet<QString> lostSessions;
    // Occurrences' entries: the writes of a series change are one record for
    // the series; the delete-user pass records its own changes of them, and
    // a series it deletes as one.
    QSet<QString> occurrences;
    for (const QString& name : logs)
        for (const TStressLog::Line& line : TStressLog::read(logFolder_ + name))
            if (line.dataset == 'L' && line.bytes.size() >= qsizetype(SeriesLinkRecord::Size))
                occurrences.insert(QString::fromLatin1(line.bytes.mid(SeriesLinkRecord::EntryKeyOffset, 10)));
    // An entry inserted as a plain one is none: a series that had set its
    // key aside too gave way.
    for (const QString& name : logs)
        for (const TStressLog::Line& line : TStressLog::read(logFolder_ + name))
            if (line.phase == 'A' && line.dataset == 'E' && line.kind == 'I' && line.command == "new")
                occurrences.remove(line.key);
    for (const QString& name : logs) {
        const QString host = name.chopped(4);
        QStringList pending;
        QList<std::pair<QString, TSeriesAction>> pendingSeries;
        QSet<QString> seriesWritten;
        const auto settle = [&](bool cutShort, bool error, const QByteArray& command) {
            for (const QString& t : pending) {
                mayLack[t] += cutShort;
                byError[t] += cutShort && error;
            }
            pending.clear();
            for (auto& [t, action] : pendingSeries) {
                action.cut = cutShort;
                seriesExpected[t] << action;
            }
            pendingSeries.clear();
            if (cutShort || command == "deluser" || command == "useradd" || command == "catdel")
                for (const QString& key : seriesWritten)
                    seriesAllowed.insert(host + QLatin1Char(' ') + key);
            seriesWritten.clear();
        };
        QFile raw(logFolder_ + name);
        if (raw.open(QIODevice::ReadOnly))
            for (const QByteArray& row : raw.readAll().split('\n'))
                named += row.startsWith("# named ");
        QByteArray last;
        for (const TStressLog::Line& line : TStressLog::read(logFolder_ + name)) {
            last = line.command;
            if (line.phase == 'K' || line.phase == 'X') {
                settle(line.phase == 'X', true, line.command);
                if (line.phase == 'X' && location_.IsServer())
                    lostSessions.insert(name);
                last.clear();
                continue;
            }
            if (line.phase == 'T') {
                TSeriesAction action;
                const qint32 first = qint32(Action::SeriesAdded);
                action.actions = line.kind == 'e' ? QList<qint32>{first + 1, first + 2} : QList<qint32>{first + (line.kind - '0')};
                pendingSeries.append({host + QLatin1Char(' ') + line.key, action});
                continue;
            }
            if (line.dataset == 'S' && !line.key.isEmpty() && (line.phase == 'B' || line.phase == 'A'))
                seriesWritten.insert(line.key);
            // A command that changes only links (deleting one occurrence)
            // records its series too: killed after that record and before
            // its log line, it leaves the record unannounced.
            if (line.dataset == 'L' && line.bytes.size() >= qsizetype(SeriesLinkRecord::Size)
                && (line.phase == 'B' || line.phase == 'A'))
                seriesWritten.insert(QString::fromLatin1(line.bytes.left(10)));
            if (line.phase != 'A')
                continue;
            if (line.dataset == 'E' && occurrences.contains(line.key)
                && (line.command == "deluser" || line.command == "useradd")) {
                // A series' deletion (its batch tells no bytes) records the
                // series; the pass records each entry it deletes, and each
                // it changes - which a series change finishing another's
                // does not.
                if (line.hasBytes && line.kind == 'D') {
                    const QString t = tuple(host, qint32(Action::EventDeletedByRemoval), datasetFile('E'), line.key);
                    ++expected[t];
                    pending << t;
                } else if (line.kind == 'U') {
                    ++optional[tuple(host, qint32(Action::EventChangedByRemoval), datasetFile('E'), line.key)];
                }
                continue;
            }
            for (const Meaning& m : Meanings) {
                if (line.command == m.command && line.dataset == m.dataset && line.kind == m.kind) {
                    const QString t = tuple(host, qint32(m.action), datasetFile(m.dataset), line.key);
                    ++expected[t];
                    pending << t;
                }
            }
        }
        settle(killed_.contains(name), false, last);
    }

    TXIsamFile trail;
    if (!trail.Open(location_.DatasetName(TrailRecord::FileName))) {
        faults << QStringLiteral("trail: cannot be opened: %1").arg(trail.ErrorText());
        return;
    }
    QHash<QString, int> found;
    QHash<QString, QList<qint32>> seriesFound;
    TrailRecord record;
    TLookup::Each(trail, record.bytes(), [&](const QString& key) {
        if (key == TrailRecord::SettingKey)
            return;
        const QString host = record.Workstation();
        // The worker's user: "worker-<user>-<incarnation>".
        if (RecordKey::parse(host.section(QLatin1Char('-'), 1, 1)) != RecordKey::parse(record.UserKey()))
            faults << QStringLiteral("trail %1: user %2 on workstation %3").arg(key, record.UserKey(), host);
        if (record.Summary().isEmpty())
            faults << QStringLiteral("trail %1: no summary").arg(key);
        if (record.Action() >= qint32(Action::SeriesAdded) && record.Action() <= qint32(Action::SeriesDeleted))
            seriesFound[host + QLatin1Char(' ') + record.Key()] << record.Action();
        else
            ++found[tuple(host, record.Action(), record.Dataset(), record.Key())];
    });
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const int have = found.value(it.key());
        checked += std::min(have, it.value());
        const int lacking = it.value() - have;
        if (lacking > mayLack.value(it.key()))
            faults << QStringLiteral("trail: no record of change %1").arg(it.key());
        else if (lacking > 0 && byError.value(it.key()) > 0)
            cutByError += lacking;
        else if (lacking > 0)
            cut += lacking;
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        if (it.value() > expected.value(it.key()) + optional.value(it.key()))
            faults << QStringLiteral("trail: a record of a change never made: %1").arg(it.key());
    // Each series record matches one command that may have made it.
    QSet<QString> seriesKeys(seriesExpected.keyBegin(), seriesExpected.keyEnd());
    for (auto it = seriesFound.cbegin(); it != seriesFound.cend(); ++it)
        seriesKeys.insert(it.key());
    for (const QString& t : seriesKeys) {
        QList<TSeriesAction> wanted = seriesExpected.value(t);
        for (const qint32 action : seriesFound.value(t)) {
            const auto match = std::find_if(wanted.begin(), wanted.end(),
                                            [&](const TSeriesAction& w) { return w.actions.contains(action); });
            if (match != wanted.end()) {
                wanted.erase(match);
                ++seriesChecked;
            } else if (!seriesAllowed.contains(t)) {
                faults << QStringLiteral("trail: a series record of a change never made: %1 %2").arg(t).arg(action);
            }
        }
        for (const TSeriesAction& w : wanted) {
            if (w.cut)
                ++cut;
            else
                faults << QStringLiteral("trail: no record of series change %1 %2").arg(t).arg(w.actions.first());
        }
    }

    TXIsamFile notes;
    if (!notes.Open(location_.DatasetName(HolderNoteRecord::FileName))) {
        faults << QStringLiteral("holder notes: cannot be opened: %1").arg(notes.ErrorText());
        return;
    }
    HolderNoteRecord note;
    TLookup::Each(notes, note.bytes(), [&](const QString& key) {
        const QString log = note.Workstation() + QStringLiteral(".log");
        if (killed_.contains(log))
            ++notesLeftByKills;
        else if (lostSessions.contains(log))
            ++notesLeftByLostSessions;
        else
            faults << QStringLiteral("holder note %1 of %2 left by a holder that was neither killed nor cut off").arg(key, note.Target());
    });
    say(QStringLiteral("trail: %1 series commands with their record").arg(seriesChecked));
    say(QStringLiteral("trail: %1 changes with their record, %2 cut by a kill and %3 by an error without one; "
                       "holder notes left by kills: %4, by lost sessions: %5; refused edits that named their holder: %6")
            .arg(checked)
            .arg(cut)
            .arg(cutByError)
            .arg(notesLeftByKills)
            .arg(notesLeftByLostSessions)
            .arg(named));
}
