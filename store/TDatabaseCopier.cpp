#include "TDatabaseCopier.h"

#include "EQuorla.h"
#include "FolderPause.h"
#include "IsamCode.h"
#include "TIsamConnection.h"
#include "TIsamEngine.h"
#include "TIsamFormat.h"
#include "TQuorlaDB.h"
#include "TWorkingHours.h"
#include "TQuorlaDatasets.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <utility>
#include <vector>

namespace {

constexpr qint64 ProgressEvery = 500;
const QString FirstKey = QStringLiteral("0000000001");

// A dataset's name for a message: a server's password is not shown.
QString shown(const QString& datasetName)
{
    return TDatabaseLocation::Printable(datasetName);
}

} // namespace

// One database: its location, its connection and its open datasets.
struct TDatabaseCopier::Side
{
    explicit Side(TDatabaseLocation where)
        : location(std::move(where)), connection(TIsamEngine::forName(location.Path()).connect(location.Path()))
    {
        for (qsizetype i = 0; i < TQuorlaDatasets::All().size(); ++i) {
            files.push_back(std::make_unique<TXIsamFile>());
            files.back()->ShareConnection(connection);
        }
    }
    QString name(int index) const
    {
        return location.DatasetName(TQuorlaDatasets::All()[index].fileName);
    }

    TDatabaseLocation location;
    std::shared_ptr<TIsamConnection> connection;
    // By TQuorlaDatasets' order; null for an optional one the source lacks.
    std::vector<std::unique_ptr<TXIsamFile>> files;
};

TDatabaseCopier::TDatabaseCopier(TDatabaseLocation from, TDatabaseLocation to)
    : from_(std::move(from)), to_(std::move(to))
{
}

TDatabaseCopier::~TDatabaseCopier() = default;

void TDatabaseCopier::fail(const QString& message) const
{
    throw EQuorla(message);
}

void TDatabaseCopier::checkTarget(Side& side)
{
    madeFolder_ = side.location.IsFolder() && !QDir(side.location.Path()).exists();
    existing_.assign(side.files.size(), false);
    if (side.location.IsFolder() && !QDir().mkpath(side.location.Path()))
        fail(QStringLiteral("Cannot make the folder %1").arg(side.location.Path()));
    for (int i = 0; i < int(side.files.size()); ++i) {
        TXIsamFile& file = *side.files[i];
        const QString name = side.name(i);
        if (file.Exists(name)) {
            // A dataset a workstation made empty when it first met the
            // database is no obstacle; one that has ever held a record is.
            if (!file.Open(name))
                fail(QStringLiteral("Cannot open %1:\n%2").arg(shown(name), file.ErrorText()));
            const qint32 records = file.RecordCount();
            const QString next = file.NextKey();
            if (records < 0 || next.isEmpty())
                fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(name), file.ErrorText()));
            file.Close();
            existing_[std::size_t(i)] = true;
            if (records > 0 || next != FirstKey)
                fail(QStringLiteral("%1 is not empty: %2 holds %3 records (next key %4); nothing was copied")
                         .arg(side.location.Printable(), TQuorlaDatasets::All()[i].fileName)
                         .arg(records)
                         .arg(next));
        } else if (file.LastError() != IsamNotFound) {
            fail(QStringLiteral("Cannot reach %1:\n%2").arg(shown(name), file.ErrorText()));
        }
    }
}

bool TDatabaseCopier::summarise(TXIsamFile& file, qsizetype recordSize, const QString& phase, Summary& summary)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> record(std::size_t(recordSize), 0);
    summary.records = 0;
    if (!file.Rewind(TXIsamFile::PrimaryIndex))
        return false;
    const qint64 total = file.RecordCount();
    while (file.Get(record, TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        hash.addData(file.CurrentKey().toLatin1());
        hash.addData(QByteArrayView(record.data(), recordSize));
        if (++summary.records % ProgressEvery == 0 && OnProgress)
            OnProgress(summary.fileName, phase, summary.records, total);
    }
    if (file.LastError() != IsamNotFound)
        return false;
    summary.nextKey = file.NextKey();
    if (summary.nextKey.isEmpty())
        return false;
    summary.checksum = hash.result().toHex();
    if (OnProgress)
        OnProgress(summary.fileName, phase, summary.records, total);
    return true;
}

void TDatabaseCopier::copyDataset(int index, Side& source, Side& target)
{
    const TQuorlaDatasets::Dataset& dataset = TQuorlaDatasets::All()[index];
    TXIsamFile& from = *source.files[index];
    TXIsamFile& to = *target.files[index];
    const QString name = target.name(index);
    TIsamFormat format;
    format.parse(dataset.format);

    const qint32 keyLength = from.KeyLength();
    const qint32 total = from.RecordCount();
    if (keyLength < 1 || total < 0)
        fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(index)), from.ErrorText()));
    // Not asked again: on a server a failed question would spoil the copy's
    // transaction.
    if (!existing_[std::size_t(index)] && !to.CreateDataset(name, qint16(keyLength), dataset.format))
        fail(QStringLiteral("Cannot create %1:\n%2").arg(shown(name), to.ErrorText()));
    written_ = true;
    if (target.location.IsFolder())
        writtenFiles_ << name;
    if (!to.Open(name))
        fail(QStringLiteral("Cannot open %1:\n%2").arg(shown(name), to.ErrorText()));
    carryIdentity(index, source, target);
    carrySettings(index, source, target);
    copyRecords(index, source, target, format.recordSize(), total);
    carryKeyMark(index, source, target, keyLength);
}

void TDatabaseCopier::carryIdentity(int index, Side& source, Side& target)
{
    const TQuorlaDatasets::Dataset& dataset = TQuorlaDatasets::All()[index];
    TXIsamFile& from = *source.files[index];
    TXIsamFile& to = *target.files[index];
    const QString name = target.name(index);
    // The identity goes first and across unchanged: what was exported from
    // the source (iCalendar UIDs) must name the same events in the copy.
    QString identity;
    if (from.ReadIdentity(identity)) {
        QString kept = identity;
        if (!to.AdoptIdentity(kept))
            fail(QStringLiteral("Cannot keep the identity in %1:\n%2").arg(shown(name), to.ErrorText()));
        if (kept != identity)
            fail(QStringLiteral("%1 is not empty: %2 already belongs to another database")
                     .arg(target.location.Printable(), dataset.fileName));
    } else if (from.LastError() != IsamNotFound) {
        fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(index)), from.ErrorText()));
    }
}

void TDatabaseCopier::carrySettings(int index, Side& source, Side& target)
{
    TXIsamFile& from = *source.files[index];
    TXIsamFile& to = *target.files[index];
    const QString name = target.name(index);
    // So do the office's time zone, over the one a workstation may have
    // left in an empty target, and its working hours.
    for (const QLatin1StringView setting : {TQuorlaDB::OfficeZoneSetting, TWorkingHours::Setting}) {
        QString value;
        if (from.ReadSetting(QString(setting), value)) {
            if (!to.WriteSetting(QString(setting), value, false))
                fail(QStringLiteral("Cannot keep the %1 in %2:\n%3")
                         .arg(setting == TWorkingHours::Setting ? QStringLiteral("working hours")
                                                                 : QStringLiteral("time zone"),
                              shown(name), to.ErrorText()));
        } else if (from.LastError() != IsamNotFound) {
            fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(index)), from.ErrorText()));
        }
    }
}

void TDatabaseCopier::copyRecords(int index, Side& source, Side& target, qsizetype recordSize, qint32 total)
{
    const TQuorlaDatasets::Dataset& dataset = TQuorlaDatasets::All()[index];
    TXIsamFile& from = *source.files[index];
    TXIsamFile& to = *target.files[index];
    const QString name = target.name(index);
    // In batches of one transaction each: a folder's dataset syncs once per
    // transaction, which one record at a time would make a long wait.
    std::vector<char> record(recordSize, 0);
    QStringList keys;
    QByteArray batch;
    qint64 done = 0;
    const auto flush = [&] {
        if (!to.InsertAll(keys, std::span<const char>(batch.constData(), std::size_t(batch.size()))))
            return false;
        done += keys.size();
        keys.clear();
        batch.clear();
        if (OnProgress)
            OnProgress(dataset.fileName, QStringLiteral("copying"), done, total);
        return true;
    };
    from.Rewind(TXIsamFile::PrimaryIndex);
    while (from.Get(record, TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        keys << from.CurrentKey();
        batch.append(record.data(), qsizetype(record.size()));
        if (keys.size() == ProgressEvery && !flush())
            fail(QStringLiteral("Cannot add records to %1:\n%2").arg(shown(name), to.ErrorText()));
    }
    if (from.LastError() != IsamNotFound)
        fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(index)), from.ErrorText()));
    if (!keys.isEmpty() && !flush())
        fail(QStringLiteral("Cannot add records to %1:\n%2").arg(shown(name), to.ErrorText()));
    if (done == 0 && OnProgress)
        OnProgress(dataset.fileName, QStringLiteral("copying"), 0, total);
}

void TDatabaseCopier::carryKeyMark(int index, Side& source, Side& target, qint32 keyLength)
{
    TXIsamFile& from = *source.files[index];
    TXIsamFile& to = *target.files[index];
    const QString name = target.name(index);
    // The source's mark of the largest key ever held: one below its next key.
    const QString next = from.NextKey();
    if (next.isEmpty())
        fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(index)), from.ErrorText()));
    const qint64 largest = next.toLongLong() - 1;
    if (largest > 0 && !to.RaiseKeyMark(QString::number(largest).rightJustified(keyLength, QLatin1Char('0'))))
        fail(QStringLiteral("Cannot set the next key of %1:\n%2").arg(shown(name), to.ErrorText()));
}

void TDatabaseCopier::discard()
{
    for (const QString& file : std::as_const(writtenFiles_))
        for (const QString& suffix : {QString(), QStringLiteral("-journal"), QStringLiteral(".lck")})
            QFile::remove(file + suffix);
    if (!madeFolder_)
        return;
    // The writes made the folder's pause lock file beside the datasets.
    QFile::remove(to_.Path() + QLatin1String(FolderPause::FileName));
    QDir().rmdir(to_.Path());
}

QList<TDatabaseCopier::Summary> TDatabaseCopier::Run()
{
    written_ = madeFolder_ = false;
    writtenFiles_.clear();
    for (const TDatabaseLocation* side : {&from_, &to_})
        if (!side->IsValid())
            fail(side->Error());
    if (from_ == to_)
        fail(QStringLiteral("The source and the target are the same database"));
    try {
        return copyAll();
    } catch (const EQuorla& e) {
        if (to_.IsFolder())
            discard();
        if (!written_)
            throw;
        throw EQuorla(e.message() + QStringLiteral("\nNothing of the copy was kept."));
    }
}

// The copy into a server as one transaction, undone when the copy throws;
// a lost session undoes it on the server anyway.
class TDatabaseCopier::Whole
{
public:
    explicit Whole(TIsamConnection* connection)
        : connection_(connection)
    {
        if (connection_ && connection_->beginCopy() != IsamOk) {
            const QString reason = connection_->reason();
            connection_->endCommand(false);
            throw EQuorla(QStringLiteral("Cannot begin the copy:\n%1").arg(reason));
        }
    }
    ~Whole()
    {
        if (connection_)
            connection_->endCommand(false);
    }
    Whole(const Whole&) = delete;
    Whole& operator=(const Whole&) = delete;

    void commit(const QString& target)
    {
        TIsamConnection* connection = std::exchange(connection_, nullptr);
        if (!connection || connection->endCommand(true) == IsamOk)
            return;
        if (connection->commitAnswerLost())
            throw EQuorla(QStringLiteral("The answer of %1 to the end of the copy was lost: it holds the whole copy or "
                                         "nothing of it. Run the copy again: a whole copy is refused as not empty.\n%2")
                              .arg(target, connection->reason()));
        throw EQuorla(QStringLiteral("Cannot end the copy into %1:\n%2").arg(target, connection->reason()));
    }

private:
    TIsamConnection* connection_;
};

QList<TDatabaseCopier::Summary> TDatabaseCopier::copyAll()
{
    Side source(from_);
    Side target(to_);
    for (int i = 0; i < int(source.files.size()); ++i) {
        TXIsamFile& file = *source.files[i];
        if (file.Exists(source.name(i))) {
            if (!file.Open(source.name(i)))
                fail(QStringLiteral("Cannot open %1:\n%2").arg(shown(source.name(i)), file.ErrorText()));
        } else if (file.LastError() == IsamNotFound && TQuorlaDatasets::All()[i].optional) {
            source.files[i].reset();
        } else if (file.LastError() == IsamNotFound) {
            fail(QStringLiteral("%1 holds no %2: it is no Quorla database")
                     .arg(from_.Printable(), TQuorlaDatasets::All()[i].fileName));
        } else {
            fail(QStringLiteral("Cannot reach %1:\n%2").arg(shown(source.name(i)), file.ErrorText()));
        }
    }
    checkTarget(target);
    Whole whole(target.connection.get());
    // A server's datasets are read as at one moment, there and when read
    // again for the comparison.
    if (source.connection && source.connection->beginSnapshot() != IsamOk)
        fail(QStringLiteral("Cannot read %1:\n%2").arg(from_.Printable(), source.connection->reason()));
    for (int i = 0; i < int(source.files.size()); ++i)
        if (source.files[i])
            copyDataset(i, source, target);

    QList<Summary> summaries;
    QStringList differences;
    for (int i = 0; i < int(source.files.size()); ++i) {
        if (!source.files[i])
            continue;
        TIsamFormat format;
        format.parse(TQuorlaDatasets::All()[i].format);
        Summary theirs, ours;
        theirs.fileName = ours.fileName = TQuorlaDatasets::All()[i].fileName;
        if (!summarise(*source.files[i], qsizetype(format.recordSize()), QStringLiteral("reading the source"), theirs))
            fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(source.name(i)), source.files[i]->ErrorText()));
        if (!summarise(*target.files[i], qsizetype(format.recordSize()), QStringLiteral("reading the copy"), ours))
            fail(QStringLiteral("Cannot read %1:\n%2").arg(shown(target.name(i)), target.files[i]->ErrorText()));
        if (theirs.records != ours.records || theirs.nextKey != ours.nextKey || theirs.checksum != ours.checksum)
            differences << QStringLiteral("%1: source %2 records, next key %3, checksum %4; copy %5, %6, %7")
                               .arg(ours.fileName)
                               .arg(theirs.records)
                               .arg(theirs.nextKey, QString::fromLatin1(theirs.checksum))
                               .arg(ours.records)
                               .arg(ours.nextKey, QString::fromLatin1(ours.checksum));
        summaries << ours;
    }
    if (!differences.isEmpty())
        throw EQuorla(QStringLiteral("The copy differs from the source:\n") + differences.join('\n'));
    whole.commit(to_.Printable());
    if (source.connection)
        source.connection->endSnapshot();
    return summaries;
}
