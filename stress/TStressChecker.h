#pragma once

#include "TDatabaseLocation.h"
#include "TStressLog.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Proves, after a stress run, what the workers' logs let it prove:
// - every dataset file passes SQLite's integrity check (in a folder; a
//   server's tables are the server's to keep sound); every dataset is read
//   through the engine, as the program reads it;
// - every acknowledged write is there with its exact bytes, unless a later
//   write (acknowledged, or begun by a worker that was killed) replaced or
//   deleted it; writes to one key are ordered by the locks and keys, so only
//   writes whose spans overlap leave a choice, and then either result counts;
//   every stored record is explained by some write;
// - no key is stored twice or ever added twice (keys are never reused), and no
//   record lock is left held;
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
//   (TStressTrailCheck).
class TStressChecker
{
public:
    // `folder` holds the logs and, unless `database` names a server, the
    // database too.
    explicit TStressChecker(QString folder, QString database = QString());

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
    QStringList faults;

private:
    struct Op
    {
        char dataset = 0;
        char kind = 0;
        QString key;
        QByteArray bytes;
        qint64 start = 0;
        qint64 end = 0;
        bool acked = false;
        // On a server: part of a command that failed, its session lost;
        // what it wrote before its last transaction may stand.
        bool cutByError = false;
        QByteArray command;
        QString text;
        bool hasText = false;
    };

    void loadLogs();
    // Runs SQLite's integrity check on a dataset file; a failure is a fault.
    void checkIntegrity(const QString& path);
    bool loadDataset(char dataset, const QString& fileName);
    void checkWrites(char dataset);
    void checkLocks(char dataset, const QString& fileName);
    void checkAlarms();
    void checkTexts();
    void runCleanUp();

    QString folder_;
    TDatabaseLocation database_;
    QStringList killedLogs_;
    QList<Op> ops_;
    QHash<char, QMap<QString, QByteArray>> stored_;
};
