#pragma once

#include "TIsamEngine.h"

// The dataset engine of the program: each dataset is one SQLite database file
// under the dataset's own file name, plus a lock file beside it for record
// locks (RecordLockFile). Files use a rollback journal and synchronous writes,
// so that a dataset on a network folder stays safe and its last-write time
// moves on every commit; every write is one transaction.
class SqliteIsamEngine : public TIsamEngine
{
public:
    // Datasets of a folder share nothing: `connection` is ignored.
    IsamCode create(const QString& fileName, int keyLength, const QString& format,
                    const std::shared_ptr<TIsamConnection>& connection) override;
    IsamCode exists(const QString& fileName, const std::shared_ptr<TIsamConnection>& connection) override;
    IsamCode open(const QString& fileName, IsamOpenMode mode, const std::shared_ptr<TIsamConnection>& connection,
                  std::unique_ptr<TIsamDataset>& dataset) override;

    // How long a statement waits for another process's short file lock before
    // it fails with IsamBusy.
    static constexpr int BusyTimeoutMs = 5000;

    // Maps an SQLite result code to the engine's result code.
    static IsamCode codeFor(int sqliteCode);
};
