#include "FolderPause.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace {

constexpr off_t Gate = 0;
constexpr off_t Work = 1;
constexpr int PollMs = 2;

QString folderOf(const QString& path)
{
    if (path.endsWith(QLatin1Char('/')))
        return QDir::cleanPath(QDir(path).absolutePath());
    return QDir::cleanPath(QFileInfo(path).absolutePath());
}

int openLockFile(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(FolderPause::FileName));
    return ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

// One attempt at a lock (F_RDLCK, F_WRLCK) or release (F_UNLCK) of `byte`.
bool setLock(int fd, short type, off_t byte)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// Tries `type` on `byte` until it is had or `waitMs` have passed.
bool waitForLock(int fd, short type, off_t byte, int waitMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!setLock(fd, type, byte)) {
        if ((errno != EAGAIN && errno != EACCES) || waited.hasExpired(waitMs))
            return false;
        QThread::msleep(PollMs);
    }
    return true;
}

// The writers' holds of this process, by folder: one lock file each, kept
// open, holding the work byte while any hold of the folder lives.
struct Holds
{
    struct Folder
    {
        int fd = -1;
        int depth = 0;
        bool held = false;
    };
    std::mutex mutex;
    std::map<QString, Folder> folders;

    static Holds& instance()
    {
        static Holds holds;
        return holds;
    }
};

} // namespace

FolderPause::Hold::Hold(const QString& path)
    : folder_(folderOf(path))
{
    Holds& holds = Holds::instance();
    const std::lock_guard<std::mutex> guard(holds.mutex);
    Holds::Folder& f = holds.folders[folder_];
    if (f.depth++ > 0)
        return;
    if (f.fd < 0)
        f.fd = openLockFile(folder_);
    // Without the lock file (a folder this process may not write) or past
    // the wait the write goes ahead unpaused; the backup notices it.
    f.held = f.fd >= 0 && waitForLock(f.fd, F_RDLCK, Gate, WriterWaitMs) && setLock(f.fd, F_RDLCK, Work);
    if (f.fd >= 0)
        setLock(f.fd, F_UNLCK, Gate);
}

FolderPause::Hold::~Hold()
{
    Holds& holds = Holds::instance();
    const std::lock_guard<std::mutex> guard(holds.mutex);
    Holds::Folder& f = holds.folders[folder_];
    if (--f.depth > 0 || !f.held)
        return;
    setLock(f.fd, F_UNLCK, Work);
    f.held = false;
}

FolderPause::FolderPause(const QString& folder)
    : path_(folderOf(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')))
{
}

FolderPause::~FolderPause()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderPause::Pause(int waitMs)
{
    if (fd_ < 0)
        fd_ = openLockFile(path_);
    if (fd_ < 0) {
        error_ = QStringLiteral("Cannot open %1/%2: %3")
                     .arg(path_, QLatin1String(FileName), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // A writer holds the gate only on its way in: it is soon free.
    bool paused = waitForLock(fd_, F_WRLCK, Gate, waitMs);
    int failure = paused ? 0 : errno;
    if (paused && !waitForLock(fd_, F_WRLCK, Work, waitMs)) {
        failure = errno;
        setLock(fd_, F_UNLCK, Gate);
        paused = false;
    }
    if (!paused && failure != EAGAIN && failure != EACCES)
        error_ = QStringLiteral("Cannot lock %1/%2: %3")
                     .arg(path_, QLatin1String(FileName), QString::fromLocal8Bit(std::strerror(failure)));
    return paused;
}

void FolderPause::Resume()
{
    if (fd_ < 0)
        return;
    setLock(fd_, F_UNLCK, Work);
    setLock(fd_, F_UNLCK, Gate);
}
