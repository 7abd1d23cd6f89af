#pragma once

#include "TDatabaseLocation.h"

#include <QString>
#include <QStringList>

#include <functional>

class FolderPause;
class SqliteSnapshot;

// A copy of a live database, taken while workstations go on working, as a
// database folder to keep: every dataset of TQuorlaDatasets as at one moment
// between two write commands.
// - A folder's datasets are read with SQLite's online backup under the
//   folder's pause (FolderPause): writers finish the command in hand, new
//   ones wait, the files are read into memory and the writers go on; the
//   copy is written out afterwards. The copy counts only when no dataset
//   changed while it was read (a writer that stopped waiting, or one of a
//   build without the pause); otherwise it is taken again.
// - A server's datasets are read in one snapshot (TDatabaseCopier).
// Then the copy must pass Check(). It is made beside its place and moved
// there only when good: a failure leaves nothing there.
class TDatabaseBackup
{
public:
    TDatabaseBackup(TDatabaseLocation source, QString copy);

    // What goes on, line by line, for the person running the backup.
    std::function<void(const QString&)> OnNote;

    // Makes the copy at the folder `copy`, which must not exist yet. Throws
    // EQuorla, with what to tell, when no good copy could be made.
    void Run();

    // The faults a backup must not have, in the database folder `folder`:
    // a dataset that fails SQLite's integrity check, a key mark below the
    // largest key of its dataset, an alarm whose entry is missing, two
    // alarms of one user for one entry. Empty when there are none.
    static QStringList Check(const QString& folder);

    // Of the last Run on a folder: how often the datasets were read, and the
    // longest the writers were held up by one pause, in milliseconds.
    int Attempts() const { return attempts_; }
    qint64 LongestPauseMs() const { return longestPauseMs_; }

    static constexpr int MaxAttempts = 20;
    // How long a pause waits for the commands in hand, and the rest between
    // two attempts.
    static constexpr int CommandWaitMs = 400;
    static constexpr int RestMs = 300;

private:
    void note(const QString& text) const;
    void copyFolder(const QString& partial);
    // One attempt: the datasets read under a pause; false when they changed
    // meanwhile or the pause could not be had.
    bool takeOnce(SqliteSnapshot& snapshot, FolderPause& pause);

    TDatabaseLocation source_;
    QString copy_;
    int attempts_ = 0;
    qint64 longestPauseMs_ = 0;
};
