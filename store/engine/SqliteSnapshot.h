#pragma once

#include "IsamCode.h"

#include <QString>
#include <QStringList>

#include <vector>

struct sqlite3;

// Copies of dataset files of a folder (SqliteIsamEngine) taken with SQLite's
// online backup: each file is read whole into memory under its own read lock
// (capture), and written out later, away from the source (save). Whether the
// files were taken at one moment is the caller's to make sure of: Versions()
// before and after a capture tells whether any file changed in between.
class SqliteSnapshot
{
public:
    explicit SqliteSnapshot(QStringList files);
    ~SqliteSnapshot();
    SqliteSnapshot(const SqliteSnapshot&) = delete;
    SqliteSnapshot& operator=(const SqliteSnapshot&) = delete;

    // Opens the files for reading.
    IsamCode Open();
    // For each file, a number that moves whenever another connection (any
    // process) commits a write to it (SQLite's data_version).
    IsamCode Versions(std::vector<qint64>& versions);
    // Reads every file into memory, each under one read lock; waits at most
    // `waitMs` for a writer's lock on a file.
    IsamCode Capture(int waitMs);
    // Writes what Capture took to `targets` (one per file, in order), each a
    // new file, synced to the disk.
    IsamCode Save(const QStringList& targets);
    // SQLite's words for the last failure.
    const QString& Reason() const { return reason_; }

    // SQLite's integrity check of the file at `path`: IsamOk when it finds
    // nothing, IsamCorrupt with its findings in `findings` when it does.
    static IsamCode Integrity(const QString& path, QString& findings);

private:
    IsamCode failed(int rc, sqlite3* db);
    void closeAll();

    QStringList files_;
    std::vector<sqlite3*> sources_;
    std::vector<sqlite3*> copies_;
    QString reason_;
};
