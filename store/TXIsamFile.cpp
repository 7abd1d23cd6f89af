#include "TXIsamFile.h"

#include "IsamCode.h"
#include "TIsamConnection.h"
#include "TIsamDataset.h"
#include "TIsamEngine.h"

#include <QAtomicInt>

#include <iterator>
#include <limits>

namespace {

QAtomicInt lastHandle;

QByteArray keyBytes(const QString& key)
{
    return key.toUtf8();
}

QList<QByteArray> keyBytes(const QStringList& keys)
{
    QList<QByteArray> bytes;
    bytes.reserve(keys.size());
    for (const QString& key : keys)
        bytes << keyBytes(key);
    return bytes;
}

// Sets `target` to the Latin-1 text of `bytes` (keys are digits), reusing its
// storage: a scan sets CurrentKey once per record.
void assignKey(QString& target, const QByteArray& bytes)
{
    target.resize(bytes.size());
    QChar* out = target.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QLatin1Char(bytes[i]);
}

QList<TIsamDataset::TBatchWrite> engineBatch(const QList<TXIsamFile::TBatchWrite>& writes)
{
    static constexpr IsamPutMode Modes[] = {IsamPutAdd, IsamPutReplace, IsamPutRemove, IsamPutClear};
    QList<TIsamDataset::TBatchWrite> batch;
    batch.reserve(writes.size());
    for (const TXIsamFile::TBatchWrite& w : writes)
        batch << TIsamDataset::TBatchWrite{Modes[w.kind], w.key.isEmpty() ? QByteArray() : keyBytes(w.key), w.record,
                                           w.index};
    return batch;
}

void takeKeys(QList<TXIsamFile::TBatchWrite>& writes, const QList<TIsamDataset::TBatchWrite>& batch)
{
    for (qsizetype i = 0; i < writes.size(); ++i)
        writes[i].key = QString::fromLatin1(batch[i].key);
}

} // namespace

TXIsamFile::TXIsamFile() = default;

TXIsamFile::~TXIsamFile()
{
    Close();
}

const QString& TXIsamFile::CurrentKey() const
{
    if (keyFromFound_) {
        assignKey(currentKey_, found_);
        keyFromFound_ = false;
    }
    return currentKey_;
}

void TXIsamFile::setKey(const QString& key)
{
    currentKey_ = key;
    keyFromFound_ = false;
}

bool TXIsamFile::setResult(IsamCode code, const TIsamConnection* via)
{
    lastError_ = IsamCode(code);
    if (code == IsamOk || !via)
        reason_.clear();
    else
        reason_ = via->reason();
    return code == IsamOk;
}

bool TXIsamFile::refuseUnlessOpen()
{
    if (dataset_)
        return false;
    setResult(IsamNotOpen, nullptr);
    return true;
}

void TXIsamFile::ShareConnection(std::shared_ptr<TIsamConnection> connection)
{
    shared_ = std::move(connection);
}

std::shared_ptr<TIsamConnection> TXIsamFile::connectionFor(const QString& fileName)
{
    return shared_ ? shared_ : TIsamEngine::forName(fileName).connect(fileName);
}

bool TXIsamFile::CreateDataset(const QString& fileName, qint16 keyLength, const QString& format)
{
    if (dataset_)
        return setResult(IsamAlreadyOpen);
    const auto connection = connectionFor(fileName);
    return setResult(TIsamEngine::forName(fileName).create(fileName, keyLength, format, connection), connection.get());
}

bool TXIsamFile::Exists(const QString& fileName)
{
    const auto connection = connectionFor(fileName);
    return setResult(TIsamEngine::forName(fileName).exists(fileName, connection), connection.get());
}

bool TXIsamFile::Open(const QString& fileName, IsamOpenMode mode)
{
    if (dataset_)
        return setResult(IsamAlreadyOpen);
    std::unique_ptr<TIsamDataset> dataset;
    auto connection = connectionFor(fileName);
    if (!setResult(TIsamEngine::forName(fileName).open(fileName, mode, connection, dataset), connection.get()))
        return false;
    dataset_ = std::move(dataset);
    connection_ = std::move(connection);
    handle_ = lastHandle.fetchAndAddRelaxed(1) + 1;
    fileName_ = fileName;
    return true;
}

bool TXIsamFile::Close()
{
    if (refuseUnlessOpen())
        return false;
    if (!setResult(dataset_->close()))
        return false;
    dataset_.reset();
    connection_.reset();
    handle_ = 0;
    fileName_.clear();
    return true;
}

bool TXIsamFile::Insert(std::span<const char> record, const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    if (!key.isEmpty()) {
        setKey(key);
        return setResult(dataset_->put(keyBytes(currentKey_), record, IsamPutAdd));
    }
    // The engine chooses the key: it knows how to keep two workstations
    // adding at the same moment from taking the same one.
    QByteArray chosen;
    const IsamCode code = dataset_->add(record, chosen);
    found_ = chosen;
    keyFromFound_ = true;
    return setResult(code);
}

bool TXIsamFile::InsertAll(const QStringList& keys, std::span<const char> records)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->putAll(keyBytes(keys), records));
}

bool TXIsamFile::WriteBatch(QList<TBatchWrite>& writes)
{
    if (refuseUnlessOpen())
        return false;
    QList<TIsamDataset::TBatchWrite> batch = engineBatch(writes);
    if (!setResult(dataset_->writeBatch(batch)))
        return false;
    takeKeys(writes, batch);
    return true;
}

bool TXIsamFile::WriteBatchAlong(QList<TBatchWrite>& writes, const std::vector<TWritesAlong>& along)
{
    if (refuseUnlessOpen())
        return false;
    for (const TWritesAlong& other : along)
        if (other.file->refuseUnlessOpen())
            return false;
    QList<TIsamDataset::TBatchWrite> batch = engineBatch(writes);
    std::vector<QList<TIsamDataset::TBatchWrite>> batches;
    batches.reserve(along.size());
    std::vector<TIsamDataset::TAlongWrite> others;
    for (const TWritesAlong& other : along) {
        batches.push_back(engineBatch(*other.writes));
        others.push_back({other.file->dataset_.get(), &batches.back()});
    }
    const IsamCode code = dataset_->writeBatchAlong(batch, others);
    for (const TWritesAlong& other : along)
        other.file->setResult(code);
    if (!setResult(code))
        return false;
    takeKeys(writes, batch);
    for (std::size_t i = 0; i < along.size(); ++i)
        takeKeys(*along[i].writes, batches[i]);
    return true;
}

bool TXIsamFile::Update(std::span<const char> record, const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    setKey(key);
    return setResult(dataset_->put(keyBytes(key), record, IsamPutReplace));
}

IsamReadMode TXIsamFile::ReadModeOf(ScanMode mode)
{
    switch (mode) {
    case ScanPrefix:
        return IsamReadPrefix;
    case ScanBelow:
        return IsamReadBelow;
    case ScanAtMost:
        return IsamReadAtMost;
    case ScanNext:
        break;
    }
    return IsamReadNext;
}

bool TXIsamFile::Get(std::span<char> record, qint16 index, const QString& key, ScanMode mode)
{
    if (refuseUnlessOpen())
        return false;
    // A scan passes the same key on every read: convert it once.
    if (key != scanKey_) {
        scanKey_ = key;
        scanKeyBytes_ = keyBytes(key);
    }
    // found_ keeps its storage from record to record; a failed read leaves
    // no key.
    const bool ok = setResult(dataset_->get(index, ReadModeOf(mode), scanKeyBytes_, found_, record));
    if (ok)
        keyFromFound_ = true;
    else
        setKey(QString());
    return ok;
}

bool TXIsamFile::GetEqual(std::span<char> record, qint16 index, const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    const bool ok = setResult(dataset_->get(index, IsamReadEqual, keyBytes(key), found_, record));
    if (ok)
        keyFromFound_ = true;
    else
        setKey(QString());
    return ok;
}

std::function<bool(const QByteArray&)> TXIsamFile::foundBy(const std::function<bool()>& take)
{
    return [this, &take](const QByteArray& key) {
        found_ = key;
        keyFromFound_ = true;
        return take();
    };
}

bool TXIsamFile::Range(std::span<char> record, qint16 index, const QString& from, const QString& to,
                       const std::function<bool()>& take)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->range(index, keyBytes(from), keyBytes(to), record, foundBy(take)));
}

bool TXIsamFile::Among(std::span<char> record, qint16 index, const QStringList& values,
                       const std::function<bool()>& take)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->among(index, keyBytes(values), record, foundBy(take)));
}

bool TXIsamFile::RangeAlong(std::span<char> record, qint16 index, const QString& from, const QString& to,
                            const std::function<bool()>& take, const std::vector<TAlong>& along)
{
    if (refuseUnlessOpen())
        return false;
    std::vector<TIsamDataset::TAlongRead> reads;
    for (const TAlong& other : along) {
        if (other.file->refuseUnlessOpen())
            return false;
        reads.push_back({other.file->dataset_.get(), other.index, keyBytes(other.values), other.record,
                         other.file->foundBy(other.take)});
    }
    const IsamCode code = dataset_->rangeAlong(index, keyBytes(from), keyBytes(to), record, foundBy(take), reads);
    for (const TAlong& other : along)
        other.file->setResult(code);
    return setResult(code);
}

bool TXIsamFile::Delete(const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->remove(keyBytes(key)));
}

bool TXIsamFile::Rewind(qint16 index)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->first(index));
}

bool TXIsamFile::Lock(const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->lock(keyBytes(key)));
}

bool TXIsamFile::Unlock(const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->unlock(keyBytes(key)));
}

bool TXIsamFile::LockAll(const QStringList& keys)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->lockAll(keyBytes(keys)));
}

bool TXIsamFile::UnlockAll(const QStringList& keys)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->unlockAll(keyBytes(keys)));
}

bool TXIsamFile::Identity(QString& id)
{
    if (refuseUnlessOpen())
        return false;
    QByteArray bytes;
    if (!setResult(dataset_->identity(bytes, true)))
        return false;
    id = QString::fromUtf8(bytes);
    return true;
}

bool TXIsamFile::ReadIdentity(QString& id)
{
    if (refuseUnlessOpen())
        return false;
    QByteArray bytes;
    if (!setResult(dataset_->identity(bytes, false)))
        return false;
    id = QString::fromUtf8(bytes);
    return true;
}

bool TXIsamFile::AdoptIdentity(QString& id)
{
    if (refuseUnlessOpen())
        return false;
    if (id.isEmpty())
        return setResult(IsamBadParameter);
    QByteArray bytes = id.toUtf8();
    if (!setResult(dataset_->identity(bytes, true)))
        return false;
    id = QString::fromUtf8(bytes);
    return true;
}

bool TXIsamFile::ReadSetting(const QString& name, QString& value)
{
    if (refuseUnlessOpen())
        return false;
    QByteArray bytes;
    if (!setResult(dataset_->setting(name.toUtf8(), bytes, TIsamDataset::SettingMode::Read)))
        return false;
    value = QString::fromUtf8(bytes);
    return true;
}

bool TXIsamFile::WriteSetting(const QString& name, QString& value, bool keep)
{
    if (refuseUnlessOpen())
        return false;
    QByteArray bytes = value.toUtf8();
    if (!setResult(dataset_->setting(name.toUtf8(), bytes,
                                     keep ? TIsamDataset::SettingMode::Keep : TIsamDataset::SettingMode::Replace)))
        return false;
    value = QString::fromUtf8(bytes);
    return true;
}

qint32 TXIsamFile::RecordCount()
{
    if (refuseUnlessOpen())
        return -1;
    qint64 count = 0;
    int keyLength = 0;
    if (!setResult(dataset_->info(&count, keyLength)))
        return -1;
    return qint32(qMin<qint64>(count, std::numeric_limits<qint32>::max()));
}

qint32 TXIsamFile::KeyLength()
{
    if (refuseUnlessOpen())
        return -1;
    int keyLength = 0;
    if (!setResult(dataset_->info(nullptr, keyLength)))
        return -1;
    return keyLength;
}

QString TXIsamFile::NextKey()
{
    if (refuseUnlessOpen())
        return QString();
    QByteArray key;
    if (!setResult(dataset_->nextKey(key)))
        return QString();
    return QString::fromLatin1(key);
}

bool TXIsamFile::RaiseKeyMark(const QString& key)
{
    if (refuseUnlessOpen())
        return false;
    return setResult(dataset_->raiseKeyMark(keyBytes(key)));
}

bool TXIsamFile::KeyMark(QString& mark)
{
    mark.clear();
    if (refuseUnlessOpen())
        return false;
    QByteArray stored;
    if (!setResult(dataset_->keyMark(stored)))
        return false;
    mark = QString::fromLatin1(stored);
    return true;
}

bool TXIsamFile::ChangeMark(QByteArray& mark)
{
    if (refuseUnlessOpen())
        return false;
    QByteArray now;
    if (!setResult(dataset_->changeMark(now)))
        return false;
    mark = now;
    return true;
}

QString TXIsamFile::ErrorText() const
{
    if (reason_.isEmpty())
        return ErrorText(lastError_);
    return ErrorText(lastError_) + QStringLiteral("\r\r") + reason_;
}

QString TXIsamFile::ErrorText(IsamCode code)
{
    static const char* const texts[] = {
        "No error",
        "Object not found",
        "Update mode violation",
        "Multi-user access",
        "Invalid dataset reference",
        "Invalid format string",
        "Illegal character in key",
        "Invalid parameter value",
        "File is not isam format",
        "Dataset name in use",
        "No note space available",
        "No disk space available",
        "Windows memory allocation failure",
        "DOS function call failure",
        "Disk read / write error",
        "Corrupted dataset",
        "Secondary index field too large",
        "Record are out of sort order",
        "Insufficient system file handles",
        "Multi-user locks encountered",
        nullptr,
        "Function no available",
        "Asynchronous operation interrupted",
        "A dataset is already open",
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        "Unable to connect to the Quorla database server",
        "The connection to the Quorla database server was lost",
    };
    if (code < 0 || code >= int(std::size(texts)) || texts[code] == nullptr)
        return QStringLiteral("Unknown error");
    return QString::fromLatin1(texts[code]);
}
