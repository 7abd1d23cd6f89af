#include "TRecordLock.h"

#include "EQuorla.h"
#include "TXIsamFile.h"

TRecordLock::TRecordLock(TXIsamFile& dataset, const QString& key, const QString& lockedMessage)
    : dataset_(dataset), key_(key)
{
    if (!dataset_.Lock(key_))
        throw EQuorla(lockedMessage);
}

TRecordLock::~TRecordLock()
{
    // A failed unlock leaves nothing to do: the lock vanishes with the handle.
    dataset_.Unlock(key_);
}
