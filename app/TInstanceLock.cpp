#include "TInstanceLock.h"

#include <QDir>

TInstanceLock::TInstanceLock(const QString& path)
    : path_(path.isEmpty() ? DefaultPath() : path)
{
}

TInstanceLock::~TInstanceLock()
{
    Release();
}

QString TInstanceLock::DefaultPath()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("Quorla.lock"));
}

bool TInstanceLock::Acquire()
{
    if (Held())
        return true;
    lock_ = std::make_unique<QLockFile>(path_);
    // Age alone never makes the lock stale: a first instance may run for weeks.
    // QLockFile still treats the lock of a process that no longer runs on this
    // host as stale and removes it, which is the take-over after a crash.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return true;
    lock_.reset();
    return false;
}

void TInstanceLock::Release()
{
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}

bool TInstanceLock::Held() const
{
    return lock_ && lock_->isLocked();
}
