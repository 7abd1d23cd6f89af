#include "TDatabaseBackup.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "FolderPause.h"
#include "IsamCode.h"
#include "SqliteSnapshot.h"
#include "TDatabaseCopier.h"
#include "TIsamFormat.h"
#include "TQuorlaDatasets.h"
#include "TXIsamFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <vector>

namespace {

// The keys of a dataset in the copy, read in key order; false when it
// cannot be read.
bool readKeys(TXIsamFile& file, qsizetype recordSize, QSet<QString>* keys, QString& largest)
{
    std::vector<char> record(std::size_t(recordSize), 0);
    if (!file.Rewind(TXIsamFile::PrimaryIndex))
        return false;
    while (file.Get(record, TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        largest = file.CurrentKey();
        if (keys)
            keys->insert(largest);
    }
    return file.LastError() == IsamNotFound;
}

// A dataset of the copy: sound, and its key mark at or above its largest
// key; the day entries' keys kept in `entries`.
void checkDataset(const QString& path, const TQuorlaDatasets::Dataset& dataset, QSet<QString>& entries,
                  QStringList& faults)
{
    QString findings;
    if (SqliteSnapshot::Integrity(path, findings) != IsamOk) {
        faults << QStringLiteral("%1 fails SQLite's integrity check:\n%2").arg(dataset.fileName, findings);
        return;
    }
    TXIsamFile file;
    TIsamFormat format;
    format.parse(dataset.format);
    QString largest, mark;
    const bool isEntries = dataset.fileName == DayEntryRecord::FileName;
    if (!file.Open(path) || !readKeys(file, qsizetype(format.recordSize()), isEntries ? &entries : nullptr, largest)
        || !file.KeyMark(mark)) {
        faults << QStringLiteral("Cannot read %1:\n%2").arg(dataset.fileName, file.ErrorText());
        return;
    }
    if (!mark.isEmpty() && mark < largest)
        faults << QStringLiteral("%1: the key mark %2 is below the largest key %3").arg(dataset.fileName, mark, largest);
}

// Every alarm's entry is there, and no user has two alarms for one entry.
void checkAlarms(const QString& path, const QSet<QString>& entries, QStringList& faults)
{
    TXIsamFile file;
    AlarmRecord alarm;
    QSet<QString> seen;
    int missing = 0, twice = 0;
    if (!file.Open(path) || !file.Rewind(TXIsamFile::PrimaryIndex)) {
        faults << QStringLiteral("Cannot read %1:\n%2").arg(AlarmRecord::FileName, file.ErrorText());
        return;
    }
    while (file.Get(alarm.bytes(), TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        missing += entries.contains(alarm.DayEntryKey()) ? 0 : 1;
        const QString pair = alarm.DayEntryKey() + alarm.UserKey();
        twice += seen.contains(pair) ? 1 : 0;
        seen.insert(pair);
    }
    if (file.LastError() != IsamNotFound)
        faults << QStringLiteral("Cannot read %1:\n%2").arg(AlarmRecord::FileName, file.ErrorText());
    if (missing > 0)
        faults << QStringLiteral("%1 alarms of entries that are not in the copy").arg(missing);
    if (twice > 0)
        faults << QStringLiteral("%1 alarms a second time for the same user and entry").arg(twice);
}

} // namespace

TDatabaseBackup::TDatabaseBackup(TDatabaseLocation source, QString copy)
    : source_(std::move(source)), copy_(QDir::cleanPath(QDir::current().absoluteFilePath(copy)))
{
}

void TDatabaseBackup::note(const QString& text) const
{
    if (OnNote)
        OnNote(text);
}

QStringList TDatabaseBackup::Check(const QString& folder)
{
    QStringList faults;
    QSet<QString> entries;
    const QDir dir(folder);
    for (const TQuorlaDatasets::Dataset& dataset : TQuorlaDatasets::All()) {
        const QString path = dir.filePath(dataset.fileName);
        if (QFileInfo::exists(path))
            checkDataset(path, dataset, entries, faults);
        else if (!dataset.optional)
            faults << QStringLiteral("%1 is missing").arg(dataset.fileName);
    }
    if (faults.isEmpty())
        checkAlarms(dir.filePath(AlarmRecord::FileName), entries, faults);
    return faults;
}

bool TDatabaseBackup::takeOnce(SqliteSnapshot& snapshot, FolderPause& pause)
{
    ++attempts_;
    // Writers wait from the moment the gate closes, while the commands in
    // hand end, too. Without a pause to be had, the files are read until no
    // write came between.
    QElapsedTimer held;
    held.start();
    const bool paused = pause.Pause(CommandWaitMs);
    if (!paused && pause.Error().isEmpty()) {
        note(QStringLiteral("The workstations' commands did not end within %1 ms: trying again").arg(CommandWaitMs));
        return false;
    }
    if (!paused && attempts_ == 1)
        note(pause.Error() + QStringLiteral(": reading without a pause"));
    std::vector<qint64> before, after;
    IsamCode code = snapshot.Versions(before);
    if (code == IsamOk)
        code = snapshot.Capture(CommandWaitMs);
    if (code == IsamOk)
        code = snapshot.Versions(after);
    pause.Resume();
    longestPauseMs_ = std::max(longestPauseMs_, held.elapsed());
    if (code != IsamOk && code != IsamBusy)
        throw EQuorla(QStringLiteral("Cannot read %1:\n%2\n%3")
                          .arg(source_.Printable(), TXIsamFile::ErrorText(code), snapshot.Reason()));
    if (code == IsamOk && before == after)
        return true;
    note(QStringLiteral("A dataset changed while it was read (a workstation that did not pause): trying again"));
    return false;
}

void TDatabaseBackup::copyFolder(const QString& partial)
{
    QStringList sources, targets;
    for (const TQuorlaDatasets::Dataset& dataset : TQuorlaDatasets::All()) {
        const QString path = source_.DatasetName(dataset.fileName);
        if (QFileInfo::exists(path)) {
            sources << path;
            targets << QDir(partial).filePath(dataset.fileName);
        } else if (!dataset.optional) {
            throw EQuorla(QStringLiteral("%1 holds no %2: it is no Quorla database")
                              .arg(source_.Printable(), dataset.fileName));
        }
    }
    SqliteSnapshot snapshot(sources);
    FolderPause pause(source_.Path());
    if (snapshot.Open() != IsamOk)
        throw EQuorla(QStringLiteral("Cannot open %1:\n%2").arg(source_.Printable(), snapshot.Reason()));
    while (!takeOnce(snapshot, pause)) {
        if (attempts_ >= MaxAttempts)
            throw EQuorla(QStringLiteral("No moment without writes in %1 attempts").arg(attempts_));
        QThread::msleep(RestMs);
    }
    note(QStringLiteral("Read at one moment (attempt %1; the writers waited at most %2 ms)")
             .arg(attempts_)
             .arg(longestPauseMs_));
    if (!QDir().mkpath(partial) || snapshot.Save(targets) != IsamOk)
        throw EQuorla(QStringLiteral("Cannot write the copy in %1:\n%2").arg(partial, snapshot.Reason()));
}

void TDatabaseBackup::Run()
{
    attempts_ = 0;
    longestPauseMs_ = 0;
    if (!source_.IsValid())
        throw EQuorla(source_.Error());
    if (QFileInfo::exists(copy_))
        throw EQuorla(QStringLiteral("%1 exists already").arg(copy_));
    // Made beside its place, and moved there once good.
    const QString partial = copy_ + QStringLiteral(".partial");
    QDir(partial).removeRecursively();
    try {
        if (source_.IsFolder())
            copyFolder(partial);
        else
            TDatabaseCopier(source_, TDatabaseLocation(partial + QLatin1Char('/'))).Run();
        const QStringList faults = Check(partial);
        if (!faults.isEmpty())
            throw EQuorla(QStringLiteral("The copy fails its check:\n") + faults.join(QLatin1Char('\n')));
        if (!QDir().rename(partial, copy_))
            throw EQuorla(QStringLiteral("Cannot rename %1 to %2").arg(partial, copy_));
    } catch (const EQuorla&) {
        QDir(partial).removeRecursively();
        throw;
    }
    note(QStringLiteral("Copied and checked: %1").arg(copy_));
}
