#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The append-only log of one worker process (or of the runner): one line per
// write, "<time> <phase> <seq> <command> <dataset> <kind> <key> <hex bytes>", where the
// time is the system-wide monotonic clock in nanoseconds, the phase B before
// the write, A after it succeeded (acknowledged) and F when it failed (and,
// with no write, K once a command finished and X once one failed; for
// repeating events T once a series command was done, whose kind is the trail
// action it records - 0 added, 1 changed, 2 deleted, e changed or deleted -
// and whose key is the series', H for an occurrence's entry a series change
// left because it was open elsewhere, and V naming the user or category a
// removal is about to remove), a batch telling all its writes before any
// outcome, and the dataset one letter (U users, C categories, E day entries,
// A alarms, S series, L series links), the kind
// I insert, U update or D delete (whose bytes are the record removed, where
// known), and "-" for an unknown key or no bytes. The text, where there is one,
// is what the command meant to store apart from the record's bytes: the
// description it typed for an entry or category, and for an alarm the
// description of the entry it was made for. Each
// line goes to the file in one write() on a file opened for appending, so a
// process killed at any moment leaves whole lines only (at worst the last one
// missing).
class TStressLog
{
public:
    struct Line
    {
        qint64 time = 0;
        char phase = 0;
        qint64 seq = 0;
        QByteArray command;
        char dataset = 0;
        char kind = 0;
        QString key;
        QByteArray bytes;
        bool hasBytes = false;
        QString text;
        bool hasText = false;
    };

    explicit TStressLog(const QString& path);
    ~TStressLog();
    TStressLog(const TStressLog&) = delete;
    TStressLog& operator=(const TStressLog&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Logs one phase of write `seq`; the key may be empty (an insert's B line).
    void write(char phase, qint64 seq, const QByteArray& command, char dataset, char kind, const QString& key,
               const QByteArray& bytes, const QString& text = QString());
    // A free-form line the checker skips ("#" first); one that begins with
    // "# fault" is a fault the worker saw for itself, which the checker counts.
    void note(const QByteArray& text);

    // The faults the workers noted in the log at `path`.
    static QStringList faults(const QString& path);

    static qint64 now();
    static QList<Line> read(const QString& path);

private:
    int fd_ = -1;
};
