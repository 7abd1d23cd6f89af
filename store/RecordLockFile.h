#pragma once

#include <QString>

// Record locks of one open dataset, kept as byte-range locks on a lock file
// beside it: one byte at the offset of the key's number. The locks belong to
// this object's own open file description, so two objects conflict exactly as
// two workstations do, a conflict is reported at once, and the kernel drops the
// locks when the object closes or its process dies. This is the only file of the
// program that knows how record locks are made on this platform.
class RecordLockFile
{
public:
    explicit RecordLockFile(QString path);
    ~RecordLockFile();
    RecordLockFile(const RecordLockFile&) = delete;
    RecordLockFile& operator=(const RecordLockFile&) = delete;

    enum Result { Locked, HeldElsewhere, Failed };

    // Takes the lock on `number`; never waits. A lock this object holds
    // already is taken again.
    Result lock(qint64 number);

    // Releases the lock on `number`; releasing one not held succeeds.
    bool unlock(qint64 number);

    // Closes the lock file: every lock of this object is released.
    void close();

private:
    bool ensureOpen();

    QString path_;
    int fd_ = -1;
};
