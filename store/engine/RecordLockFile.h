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

    // Whether the file system of `path` honours these locks: two holders of
    // the lock file at `path` must conflict on one byte. Some network shares
    // accept the calls and lock nothing, or refuse them altogether.
    static bool locksWork(const QString& path);
    // Makes locksWork() answer `works` until called with ProbeReal (tests).
    enum ProbeOverride { ProbeReal, ProbeWorks, ProbeFails };
    static void setProbeOverride(ProbeOverride probe);

private:
    bool ensureOpen();

    QString path_;
    int fd_ = -1;
};
