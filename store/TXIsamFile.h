#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "IsamCode.h"

class TIsamConnection;
class TIsamDataset;

// One dataset, opened through its dataset engine: the only road
// from the program to its data. Each operation makes one engine call, keeps the
// engine's result code in LastError() and answers success as a Boolean; it never
// throws. Callers turn a failure into an error carrying ErrorText().
//
// Keys are texts of KeyLength() decimal digits. Records are the caller's
// fixed-size buffers (the record classes' bytes()); the primary key travels
// beside the record, not inside it.
//
// Index numbers: 0 is the primary key; N is the N-th field of the dataset's
// format string, which must be indexed ("X"). Index values are the field's
// text; order is ascending byte order, ties broken by primary key.
//
// Scan modes for Get (ScanMode): ScanNext the next record; ScanPrefix the next
// while its index value begins with Key; ScanBelow the next while below Key;
// ScanAtMost the next while at most Key. A failed read ends the caller's scan. After a successful GetEqual the next scan read returns the
// record after the found one; after a failed GetEqual, the first record whose
// index value is greater than Key. Writing or deleting during a scan never
// breaks it. Each object has one position: a point read moves it.
//
// The engine is chosen by the name (TIsamEngine::forName): a dataset file of a
// folder, or a table on a database server. A server's datasets opened through
// one shared connection (ShareConnection) use one server session between them;
// otherwise each open object has its own.
class TXIsamFile
{
public:
    enum ScanMode : short { ScanNext = 16, ScanPrefix = 64, ScanBelow = 256, ScanAtMost = 1024 };
    // The primary key's index in every dataset; the record classes name their
    // secondary indexes.
    static constexpr qint16 PrimaryIndex = 0;

    TXIsamFile();
    ~TXIsamFile();
    TXIsamFile(const TXIsamFile&) = delete;
    TXIsamFile& operator=(const TXIsamFile&) = delete;

    bool Active() const { return dataset_ != nullptr; }
    qint32 Handle() const { return handle_; }
    const QString& FileName() const { return fileName_; }
    // Primary key of the record last returned by Get/GetEqual, or the key last
    // written by Insert/Update (set even when the call failed).
    const QString& CurrentKey() const;
    // The engine's answer to the last call: IsamOk, or what failed.
    IsamCode LastError() const { return lastError_; }

    // Makes CreateDataset, Exists and the next Open go through `connection`
    // (TIsamEngine::connect), shared with other objects; null: each call makes
    // its own. Takes effect at the next Open.
    void ShareConnection(std::shared_ptr<TIsamConnection> connection);

    // Creates an empty dataset (not opened). Refused with IsamAlreadyOpen while
    // open. Fails with IsamNameInUse when the dataset exists, also when another
    // workstation created it a moment ago.
    bool CreateDataset(const QString& fileName, qint16 keyLength, const QString& format);
    // Whether the dataset exists: false with LastError() IsamNotFound when it
    // does not, with another code when that cannot be told (a server out of
    // reach).
    bool Exists(const QString& fileName);
    // Opens a dataset for shared reading and writing (IsamOpenShared, with
    // IsamOpenUnsynced added for one that only looks on). Refused with
    // IsamAlreadyOpen while open.
    bool Open(const QString& fileName, IsamOpenMode mode = IsamOpenShared);
    // Closes the dataset, releasing this object's record locks. IsamNotOpen
    // when not open.
    bool Close();

    // Adds a record under Key, which must not exist. An empty Key takes the
    // next key (as NextKey()), chosen by the engine so that adds by others at
    // the same moment never make it fail; CurrentKey() is the key taken.
    bool Insert(std::span<const char> record, const QString& key = QString());
    // Adds keys.size() records, stored one after the other in `records`,
    // under their keys, in one transaction: all or, on a failure, none. For
    // filling a new dataset (a copy of a database) at the speed of one
    // synchronous write, not one per record. CurrentKey() stays.
    bool InsertAll(const QStringList& keys, std::span<const char> records);
    // One write of WriteBatch: an add under `key` (empty: the next key, set
    // here once written), a replace of the record under `key`, or a removal
    // of it (one already gone counts as removed; `record` empty).
    // Clear: the removal of every record whose `index` value is `key`.
    struct TBatchWrite
    {
        enum Kind { Add, Replace, Remove, Clear };
        Kind kind = Add;
        QString key;
        QByteArray record;
        qint16 index = 0;
    };
    // Makes the writes in order in one transaction: all, or on the first
    // failure none (an add under a key that exists, a replace of a missing
    // record: LastError() says which). What a writer of many records at once
    // uses, at the cost of one synchronous write. CurrentKey() stays.
    bool WriteBatch(QList<TBatchWrite>& writes);
    // A WriteBatch of `file` (a dataset of the same database) to go along
    // with one.
    struct TWritesAlong
    {
        TXIsamFile* file = nullptr;
        QList<TBatchWrite>* writes = nullptr;
    };
    // WriteBatch, then each WriteBatch of `along` in its order: on a server
    // all in one exchange and one transaction. The failure is told by every
    // object.
    bool WriteBatchAlong(QList<TBatchWrite>& writes, const std::vector<TWritesAlong>& along);
    // Replaces the record stored under Key.
    bool Update(std::span<const char> record, const QString& key);
    // Reads the next record of `index` in scan `mode` relative to the position.
    bool Get(std::span<char> record, qint16 index, const QString& key, ScanMode mode);
    // Reads the record whose `index` value equals Key.
    bool GetEqual(std::span<char> record, qint16 index, const QString& key);
    // Reads every record whose `index` value lies from `from` to `to` (both
    // included), in index order, into `record`, calling `take` after each with
    // CurrentKey() set (answering false stops the read). As a look-up of `from`
    // followed by a scan in ScanAtMost up to `to`, in one engine call; the
    // position ends on the last record read. `take` must not use this object.
    bool Range(std::span<char> record, qint16 index, const QString& from, const QString& to,
               const std::function<bool()>& take);
    // Reads every record whose `index` value is one of `values` (each given
    // once), into `record`, calling `take` after each as Range does: the
    // records of one value together. For many scattered values at once, in
    // one engine call. `take` must not use this object.
    bool Among(std::span<char> record, qint16 index, const QStringList& values, const std::function<bool()>& take);
    // An Among of `file` (a dataset of the same database) on `index` for
    // `values` into `record`, telling `take`, to go along with a Range.
    struct TAlong
    {
        TXIsamFile* file = nullptr;
        std::span<char> record;
        qint16 index = 0;
        QStringList values;
        std::function<bool()> take;
    };
    // Range, then each Among of `along` in its order: on a server all in one
    // exchange. The failure is told by every object.
    bool RangeAlong(std::span<char> record, qint16 index, const QString& from, const QString& to,
                    const std::function<bool()>& take, const std::vector<TAlong>& along);
    // Removes the record with primary key Key.
    bool Delete(const QString& key);
    // Positions before the first record of `index`.
    bool Rewind(qint16 index);
    // Record locks by primary key: fail at once (never wait) when another
    // object, process or workstation holds the key; vanish with the holder.
    bool Lock(const QString& key);
    bool Unlock(const QString& key);
    // The locks of `keys`, all or none (IsamLocked: none taken), in one
    // round trip on a server; and their release.
    bool LockAll(const QStringList& keys);
    bool UnlockAll(const QStringList& keys);

    // The dataset's identity, made once and kept in it (see TIsamDataset).
    bool Identity(QString& id);
    // The identity without making one: false with IsamNotFound when the
    // dataset has none yet.
    bool ReadIdentity(QString& id);
    // Gives a dataset without an identity `id`; `id` is then set to the
    // identity kept, another one when the dataset already had one.
    bool AdoptIdentity(QString& id);

    // A named value kept in the dataset for every workstation (see
    // TIsamDataset::setting): false with IsamNotFound when there is none.
    bool ReadSetting(const QString& name, QString& value);
    // Stores `value` under `name`; with `keep` only when there is none, and
    // `value` is then set to the one kept.
    bool WriteSetting(const QString& name, QString& value, bool keep);

    // The number of records, or -1 on failure.
    qint32 RecordCount();
    // The key length given at creation, or -1 on failure.
    qint32 KeyLength();

    // The key for a new record: one more than the largest key the dataset has
    // ever held (deleted ones included), zero-padded to the key length
    // ("0000000001" in a new dataset); empty on failure. A key once freed is
    // never handed out again, so nothing left pointing at a deleted record
    // (an alarm, a stale screen) can reach a new one.
    QString NextKey();
    // Makes NextKey() answer at least one more than Key from now on, as if a
    // record under Key had been added and deleted: how a copy of a dataset
    // keeps its source's keys freed. A mark that stands higher stays.
    bool RaiseKeyMark(const QString& key);
    // The mark NextKey() counts from, as stored: empty (and true) when the
    // dataset has none yet - one made before datasets kept it, whose next
    // key is then one more than its largest stored key.
    bool KeyMark(QString& mark);

    // A mark of the dataset's contents that moves with every write to it by
    // anyone (TIsamDataset::changeMark); false, and `mark` unchanged, when it
    // cannot be had (the file went missing, the server is out of reach).
    bool ChangeMark(QByteArray& mark);

    // The message for LastError(), followed by the server's own words when a
    // server gave some (a lost connection and its cause).
    QString ErrorText() const;
    static QString ErrorText(IsamCode code);
    // The engine's read mode for a scan mode.
    static IsamReadMode ReadModeOf(ScanMode mode);

private:
    // Keeps `code` and, for a failure, the words of the connection it met.
    bool setResult(IsamCode code, const TIsamConnection* via);
    void setKey(const QString& key);
    bool setResult(IsamCode code) { return setResult(code, connection_.get()); }
    bool refuseUnlessOpen();
    // What a range read tells each record it found: its key becomes the
    // current key (made only when asked for), then `take` is called.
    std::function<bool(const QByteArray&)> foundBy(const std::function<bool()>& take);
    // The connection for a call on `fileName` outside an open dataset.
    std::shared_ptr<TIsamConnection> connectionFor(const QString& fileName);

    std::shared_ptr<TIsamConnection> shared_;
    // The open dataset's connection (the shared one or its own), if any.
    std::shared_ptr<TIsamConnection> connection_;
    std::unique_ptr<TIsamDataset> dataset_;
    qint32 handle_ = 0;
    QString fileName_;
    // The current key as text; after a read it is made from found_ only when
    // asked for (a scan that never asks pays nothing per record).
    mutable QString currentKey_;
    mutable bool keyFromFound_ = false;
    IsamCode lastError_ = IsamOk;
    QString reason_;
    // Scratch for reads, kept to spare an allocation per record of a scan.
    QString scanKey_;
    QByteArray scanKeyBytes_;
    QByteArray found_;
};
