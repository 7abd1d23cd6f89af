#include "RecordLockFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

RecordLockFile::RecordLockFile(QString path)
    : path_(std::move(path))
{
}

RecordLockFile::~RecordLockFile()
{
    close();
}

bool RecordLockFile::ensureOpen()
{
    if (fd_ >= 0)
        return true;
    const QByteArray name = QFile::encodeName(path_);
    fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

RecordLockFile::Result RecordLockFile::lock(qint64 number)
{
    if (number < 0 || !ensureOpen())
        return Failed;
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(number);
    fl.l_len = 1;
    for (;;) {
        if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0)
            return Locked;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EACCES)
            return HeldElsewhere;
        return Failed;
    }
}

bool RecordLockFile::unlock(qint64 number)
{
    if (number < 0)
        return false;
    if (fd_ < 0)
        return true;
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(number);
    fl.l_len = 1;
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void RecordLockFile::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {

RecordLockFile::ProbeOverride probeOverride = RecordLockFile::ProbeReal;

// Far above every record key (ten digits), so the probe never meets a record's
// lock.
constexpr qint64 ProbeByte = qint64(1) << 40;

} // namespace

void RecordLockFile::setProbeOverride(ProbeOverride probe)
{
    probeOverride = probe;
}

bool RecordLockFile::locksWork(const QString& path)
{
    if (probeOverride != ProbeReal)
        return probeOverride == ProbeWorks;
    RecordLockFile first(path);
    RecordLockFile second(path);
    const bool works = first.lock(ProbeByte) == Locked && second.lock(ProbeByte) == HeldElsewhere;
    first.unlock(ProbeByte);
    second.unlock(ProbeByte);
    return works;
}
