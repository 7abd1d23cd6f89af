#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// The marker of a running Quorla on this workstation: a lock file named
// "Quorla.lock" in the system's temporary folder, shared by everyone who works
// at the machine. A second start finds it taken and stops; it never waits for
// the lock. A lock left behind by an instance that crashed (its process no
// longer runs) is taken over, so a crash does not keep the program from
// starting again. However long the first instance runs, its lock is never
// taken for stale.
//
// This is the only platform-dependent part of the start-up: everything about
// processes and lock files stays in this class.
class TInstanceLock
{
public:
    // `path` names the lock file; empty means DefaultPath().
    explicit TInstanceLock(const QString& path = QString());
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Tries once to take the lock. True when this process holds it now (or held
    // it already); false when another running instance holds it or the file
    // cannot be created.
    bool Acquire();
    // Gives the lock back; nothing happens when it is not held.
    void Release();
    bool Held() const;

    const QString& Path() const { return path_; }

    // The lock file of this workstation, evaluated at the time of the call.
    static QString DefaultPath();

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};
