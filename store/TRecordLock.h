#pragma once

#include <QString>

class TXIsamFile;

// Holds the record lock of one record for its lifetime, so that every way out
// of a change - done, refused or failed - releases it. Every lock-change-unlock
// in the store goes through it.
//
// Taking the lock never waits. When another holder (another object, process or
// workstation) has the record, the lock is simply not held; any other failure
// of the lock call (the lock file cannot be opened, the server is gone) is an
// error and throws EQuorla with the dataset's error text, so that a fault is
// never reported as "another user has it".
class TRecordLock
{
public:
    // Tries the lock; Held() tells whether it was taken.
    TRecordLock(TXIsamFile& dataset, const QString& key);
    // Takes the lock, or throws EQuorla with `lockedMessage` when another holder
    // has it (nothing is then held).
    TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage);
    ~TRecordLock();
    TRecordLock(TRecordLock&& other) noexcept;
    TRecordLock(const TRecordLock&) = delete;
    TRecordLock& operator=(const TRecordLock&) = delete;
    TRecordLock& operator=(TRecordLock&&) = delete;

    bool Held() const { return dataset_ != nullptr; }
    const QString& Key() const { return key_; }

private:
    TXIsamFile* dataset_;
    QString key_;
};
