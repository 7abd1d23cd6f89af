#pragma once

#include <QString>
#include <QStringList>

class THolderNotes;
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
    // The lock of an edit: as above, and with `notes` the holder is noted
    // while the lock is held, and a refusal names the other holder - in
    // HolderLine(), and below `lockedMessage`.
    TRecordLock(TXIsamFile& dataset, const QString& key, THolderNotes* notes);
    TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage, THolderNotes* notes);
    ~TRecordLock();
    TRecordLock(TRecordLock&& other) noexcept;
    TRecordLock(const TRecordLock&) = delete;
    TRecordLock& operator=(const TRecordLock&) = delete;
    TRecordLock& operator=(TRecordLock&&) = delete;

    bool Held() const { return dataset_ != nullptr; }
    const QString& Key() const { return key_; }
    // Refused: who holds the lock, where a note tells; else empty.
    const QString& HolderLine() const { return holder_; }

private:
    TXIsamFile* dataset_;
    QString key_;
    THolderNotes* notes_ = nullptr;
    QString noteKey_;
    QString holder_;
};

// The locks of several records of one dataset, all or none, held for its
// lifetime: what a writer of many new records at once takes, in one round
// trip each way on a server however many they are. Failures as TRecordLock's.
class TRecordLocks
{
public:
    TRecordLocks(TXIsamFile& dataset, const QStringList& keys);
    ~TRecordLocks();
    TRecordLocks(const TRecordLocks&) = delete;
    TRecordLocks& operator=(const TRecordLocks&) = delete;

    bool Held() const { return dataset_ != nullptr; }

private:
    TXIsamFile* dataset_;
    QStringList keys_;
};
