#include "TStressLog.h"

#include <QFile>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

TStressLog::TStressLog(const QString& path)
{
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

TStressLog::~TStressLog()
{
    if (fd_ >= 0)
        ::close(fd_);
}

qint64 TStressLog::now()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void TStressLog::write(char phase, qint64 seq, const QByteArray& command, char dataset, char kind,
                       const QString& key, const QByteArray& bytes, const QString& text)
{
    QByteArray line = QByteArray::number(now()) + ' ' + phase + ' ' + QByteArray::number(seq) + ' ' + command + ' '
        + dataset + ' ' + kind + ' ' + (key.isEmpty() ? QByteArray("-") : key.toLatin1()) + ' '
        + (bytes.isEmpty() ? QByteArray("-") : bytes.toHex());
    if (!text.isNull())
        line += ' ' + (text.isEmpty() ? QByteArray("-") : text.toUtf8().toHex());
    note(line);
}

void TStressLog::note(const QByteArray& text)
{
    const QByteArray line = text + '\n';
    qsizetype done = 0;
    while (fd_ >= 0 && done < line.size()) {
        const ssize_t n = ::write(fd_, line.constData() + done, std::size_t(line.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}

QList<TStressLog::Line> TStressLog::read(const QString& path)
{
    QList<Line> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QList<QByteArray> rows = file.readAll().split('\n');
    for (const QByteArray& row : rows) {
        const QList<QByteArray> f = row.split(' ');
        if (row.startsWith('#') || f.size() < 8 || f.size() > 9 || f[1].size() != 1 || f[4].size() != 1
            || f[5].size() != 1)
            continue;
        Line line;
        line.time = f[0].toLongLong();
        line.phase = f[1][0];
        line.seq = f[2].toLongLong();
        line.command = f[3];
        line.dataset = f[4][0];
        line.kind = f[5][0];
        line.key = f[6] == "-" ? QString() : QString::fromLatin1(f[6]);
        line.hasBytes = f[7] != "-";
        line.bytes = line.hasBytes ? QByteArray::fromHex(f[7]) : QByteArray();
        line.hasText = f.size() == 9;
        if (line.hasText)
            line.text = f[8] == "-" ? QString() : QString::fromUtf8(QByteArray::fromHex(f[8]));
        lines << line;
    }
    return lines;
}

QStringList TStressLog::faults(const QString& path)
{
    QStringList found;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& row : file.readAll().split('\n'))
        if (row.startsWith("# fault"))
            found << QString::fromUtf8(row.mid(2));
    return found;
}
