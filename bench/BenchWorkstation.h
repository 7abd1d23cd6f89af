#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TSession;

// A workstation of a benchmark's own while it lives: its settings name
// `folder` as the database, and a temporary folder of its own holds the
// instance lock (TMPDIR, put back when it goes).
class BenchWorkstation
{
public:
    explicit BenchWorkstation(const QString& folder);
    ~BenchWorkstation();
    BenchWorkstation(const BenchWorkstation&) = delete;
    BenchWorkstation& operator=(const BenchWorkstation&) = delete;

private:
    QTemporaryDir temporary_;
    QByteArray oldTemp_;
};

// Adds the users USER1 to USER<count> (no passwords) to the database in
// `folder`, in a new users dataset.
void addBenchUsers(const QString& folder, int count);

// Starts `session` on the workstation's database as USER1, through the
// session's own check; ends the process when that fails.
void startBenchSession(TSession& session);
