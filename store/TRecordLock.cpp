#include "TRecordLock.h"

#include "EQuorla.h"
#include "IsamCode.h"
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

TRecordLock::TRecordLock(TRecordLock&& other) noexcept
    : dataset_(std::exchange(other.dataset_, nullptr)), key_(std::move(other.key_))
{
}

TRecordLock::~TRecordLock()
{
    // A failed unlock leaves nothing to do: the lock vanishes with the handle.
    if (dataset_)
        dataset_->Unlock(key_);
}
