#pragma once

#include "TDatabaseLocation.h"
#include "TServices.h"
#include "TStressLog.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Proves, after a stress run, what the workers' logs let it prove:
// - every dataset file passes SQLite's integrity check (in a folder; a
//   server's tables are the server's to keep sound); every dataset is read
//   through the engine, as the program reads it;
// - every acknowledged write is there with its exact bytes, unless a later
//   write (acknowledged, or unfinished) replaced or deleted it; writes to one
//   key are ordered by the locks and keys, so only writes whose spans overlap
//   leave a choice, and then either result counts; every stored record is
//   explained by some write. A write is acknowledged once made - on a server
//   only once its command ended well, every commit answered; it is
//   unfinished, made or not, when begun by a worker that was killed, made by
//   a command on a server that an error or a kill cut before its commit
//   answered, or failed within a command that then failed (its answer may
//   have been lost with the connection);
// - no key is stored twice or ever acknowledged as added twice (keys are
//   never reused), and no record lock is left held;
// - every alarm belongs to an assignee of its entry, at most one per user, and
//   each entry has exactly the alarms its commands left: one per assignee
//   from a command that set the alarm afresh, an edit that kept the alarm
//   time keeping each alarm as it stood and adding one per user it newly
//   assigned, minus those switched off or removed with their user since
//   (commands cut by a kill may leave fewer: counted); no alarm points at a
//   missing entry, and none at an
//   entry other than the one it was made for (its entry still carries the
//   description the alarm was made with);
// - every text stored is the text the command meant, whole: a record never
//   cuts, and a text too long was refused (the workers note any exception);
// - the alarm poll's clean-up (run over a copy, the clock far ahead) leaves no
//   alarm behind;
// - the change trail and the holder notes hold what the workers did
//   (TStressTrailCheck);
// - every repeating event holds to its rule, once whatever the workers left
//   half-done is finished or rolled back (as the next writer or poll does,
//   over a copy): every day of the rule up to the horizon has its occurrence
//   unless it is an exception or a deleted day, no day has two, no entry is
//   linked twice, no link points at an entry nobody deleted, each occurrence
//   that is no exception is its template on its day with one alarm per
//   assignee at the template's offset (unless switched off, snoozed or its
//   user removed), and an occurrence's entry outside its series is one a
//   change left because it was open elsewhere.
class TStressChecker
{
public:
    // `folder` holds the logs and, unless `database` names a server, the
    // database too.
    explicit TStressChecker(TServices services, QString folder, QString database = QString());

    // Checks and prints the report; true when nothing was lost or damaged.
    bool check();

    int acknowledged = 0;
    int killed = 0;
    int processes = 0;
    int cutEntries = 0;
    int cutByLostSessions = 0;
    int orphans = 0;
    int misdirected = 0;
    int cutTexts = 0;
    int series = 0;
    int occurrences = 0;
    int exceptions = 0;
    int deletedDays = 0;
    // Occurrences apart from their template on a user or category a removal
    // was about to remove; entries a change left outside their series (open
    // elsewhere).
    int removalApart = 0;
    int leftOutside = 0;
    // Series commands: done (their trail record logged), cut by a kill or an
    // error, and ended without a write (locked, gone).
    QMap<QByteArray, int> seriesDone;
    int seriesCut = 0;
    int seriesNothing = 0;
    QStringList faults;

private:
    TServices services_;
    struct Op
    {
        char dataset = 0;
        char kind = 0;
        QString key;
        QByteArray bytes;
        qint64 start = 0;
        qint64 end = 0;
        bool acked = false;
        // On a server: part of a command that failed (its session lost) or
        // was killed; what it wrote before its last transaction may stand.
        bool cutByError = false;
        QByteArray command;
        QString text;
        bool hasText = false;
        // The command it was part of: unique over all logs.
        qint64 cmd = 0;
    };

    void loadLogs();
    // The command in hand ended without the answer of its last commit (an
    // error, or a kill at `end`): its writes `made` (indexes in ops_) and
    // `failed` become unfinished - made or not - where they may be either.
    void unsettle(QList<qsizetype>& made, QList<Op>& failed, qint64 end);
    // Runs SQLite's integrity check on a dataset file; a failure is a fault.
    void checkIntegrity(const QString& path);
    bool loadDataset(char dataset, const QString& fileName);
    void checkWrites(char dataset);
    void checkLocks(char dataset, const QString& fileName);
    void checkAlarms();
    void checkTexts();
    void runCleanUp();
    // The series, over a copy on which whatever the workers left half-done
    // is finished or rolled back.
    void checkSeries();
    // Occurrences' entries: any key a link ever named.
    bool isOccurrence(const QString& entryKey) const { return occurrenceEntries_.contains(entryKey); }

    QString folder_;
    TDatabaseLocation database_;
    QStringList killedLogs_;
    QList<Op> ops_;
    QHash<char, QMap<QString, QByteArray>> stored_;
    QSet<QString> occurrenceEntries_;
    QSet<QString> heldEntries_;
    // The users and categories a removal was about to remove: a removal cut
    // short, or one that ran while a series was made or changed with them,
    // leaves templates and occurrences apart on them (and a cut one alarms
    // of such a user on entries no longer his).
    QSet<QString> victims_;
    // Op::cmd of the commands a kill or an error cut short.
    QSet<qint64> cutCommands_;
};
