#pragma once

#include <QString>

class TXIsamFile;

// Holds the record lock of one record for its lifetime, so that every way out
// of a change - done, refused or failed - releases it. Taking the lock never
// waits: when another handle (here or on another workstation) holds it, the
// constructor throws EQuorla with `lockedMessage` and nothing is held.
class TRecordLock
{
public:
    TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage);
    ~TRecordLock();
    TRecordLock(const TRecordLock&) = delete;
    TRecordLock& operator=(const TRecordLock&) = delete;

private:
    TXIsamFile& dataset_;
    QString key_;
};
