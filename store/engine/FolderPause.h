#pragma once

#include <QString>

// The pause of a database folder, through which a backup takes all its
// datasets at one moment while workstations go on working. It is a lock file
// in the folder (FileName) with two bytes, held with the same kind of locks as
// the record locks (open file description locks: released by the kernel when
// the holder closes the file or dies):
// - the gate: a writer takes it shared for an instant on its way in, the
//   backup exclusive for the whole pause, so that no new command starts;
// - the work: a writer holds it shared for its whole write command, the
//   backup takes it exclusive once the commands in hand have ended.
// A writer waits at most WriterWaitMs for the gate and then writes anyway:
// no workstation is ever held up for longer. A backup therefore never
// trusts the pause alone: it checks that no dataset changed while it copied
// (a workstation of an earlier build knows no pause at all).
class FolderPause
{
public:
    static constexpr const char* FileName = "QLPause.lck";
    static constexpr int WriterWaitMs = 1000;

    // A writer's hold on the folder holding `path` (the folder itself, ending
    // in "/", or a dataset file in it) for the life of the object. Holds of
    // one process nest: the first takes the lock, the last lets it go.
    class Hold
    {
    public:
        explicit Hold(const QString& path);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        QString folder_;
    };

    // The backup's side, on `folder`; nothing is locked yet.
    explicit FolderPause(const QString& folder);
    ~FolderPause();
    FolderPause(const FolderPause&) = delete;
    FolderPause& operator=(const FolderPause&) = delete;

    // Closes the gate and waits at most `waitMs` for the commands in hand to
    // end. False, with the gate open again, when they did not, or when the
    // folder allows no such lock (a file system without these locks, a
    // folder this process may not write): `Error()` then says why.
    bool Pause(int waitMs);
    // Lets the writers go on.
    void Resume();
    const QString& Error() const { return error_; }

private:
    QString path_;
    QString error_;
    int fd_ = -1;
};
