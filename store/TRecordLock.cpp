#include "TRecordLock.h"

#include "EQuorla.h"
#include "IsamCode.h"
#include "THolderNotes.h"
#include "TXIsamFile.h"

#include <utility>

TRecordLock::TRecordLock(TXIsamFile& dataset, const QString& key)
    : dataset_(&dataset), key_(key)
{
    if (dataset.Lock(key_))
        return;
    dataset_ = nullptr;
    if (dataset.LastError() != IsamLocked)
        throw EQuorla(dataset.ErrorText());
}

TRecordLock::TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage)
    : TRecordLock(dataset, key)
{
    if (!Held())
        throw EQuorla(lockedMessage);
}

TRecordLock::TRecordLock(TXIsamFile& dataset, const QString& key, THolderNotes* notes)
    : TRecordLock(dataset, key)
{
    notes_ = notes;
    if (!notes_)
        return;
    if (Held())
        noteKey_ = notes_->Note(dataset, key_);
    else
        holder_ = notes_->HolderOf(dataset, key_);
}

TRecordLock::TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage, THolderNotes* notes)
    : TRecordLock(dataset, key, notes)
{
    if (!Held())
        throw EQuorla(THolderNotes::WithHolder(lockedMessage, holder_));
}

TRecordLock::TRecordLock(TRecordLock&& other) noexcept
    : dataset_(std::exchange(other.dataset_, nullptr)), key_(std::move(other.key_)),
      notes_(std::exchange(other.notes_, nullptr)), noteKey_(std::move(other.noteKey_)),
      holder_(std::move(other.holder_))
{
}

TRecordLock::~TRecordLock()
{
    // The note goes before the lock it tells of.
    if (notes_ && !noteKey_.isEmpty())
        notes_->Remove(noteKey_);
    // A failed unlock leaves nothing to do: the lock vanishes with the handle.
    if (dataset_)
        dataset_->Unlock(key_);
}

TRecordLocks::TRecordLocks(TXIsamFile& dataset, const QStringList& keys)
    : dataset_(&dataset), keys_(keys)
{
    if (dataset.LockAll(keys_))
        return;
    dataset_ = nullptr;
    if (dataset.LastError() != IsamLocked)
        throw EQuorla(dataset.ErrorText());
}

TRecordLocks::~TRecordLocks()
{
    if (dataset_)
        dataset_->UnlockAll(keys_);
}
