#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <span>
#include <vector>

class TXIsamFile;

// Copies of all records of one dataset by primary key, for look-ups that are
// far too frequent to read the dataset each time (the views ask for up to 20
// names per drawn line, and the dataset may be on a network drive).
//
// The cache keeps itself fresh for all workstations at once: before every
// look-up it compares the dataset file's last-write time with the time it saw
// when it last loaded, and when the file has changed - written by any
// workstation, this one included - it empties itself and loads again. It does
// not read the dataset itself: loading calls the owner's OnUpdate, which hands
// every record to AddRecord (FillFrom does that for a whole dataset).
//
// A look-up costs one stat() of the file, a binary search and a copy of one
// record; a full reload happens only when the file has changed.
class TQuorlaCache
{
public:
    using UpdateHandler = std::function<void(TQuorlaCache&)>;

    virtual ~TQuorlaCache();
    TQuorlaCache(const TQuorlaCache&) = delete;
    TQuorlaCache& operator=(const TQuorlaCache&) = delete;

    // The owner's loader, called with the cache, already emptied, on every
    // (re)load.
    UpdateHandler OnUpdate;

    // The dataset file whose time is watched.
    const QString& FileName() const { return fileName_; }
    // Bytes per record copy.
    qsizetype RecordSize() const { return recordSize_; }
    // Number of records held.
    qsizetype Count() const { return qsizetype(keys_.size()); }

    // Copies the record stored under Key into the caller's buffer (RecordSize()
    // bytes; the buffer must hold at least that many), reloading first when
    // the file changed. Throws EQuorlaCache naming the key when it is absent.
    virtual void Lookup(const QString& key, std::span<char> record) = 0;
    // Adds a copy of the first RecordSize() bytes of the record under Key. A
    // key that is present already throws EQuorlaCache and adds nothing.
    virtual void AddRecord(const QString& key, std::span<const char> record) = 0;

    // Empties the cache.
    void Clear();

    // Whether the file changed since the last call that answered true (always
    // true at first), remembering what it saw. A missing file is looked for 5
    // times with a wait of 100 ms (through TServices) after each failed
    // attempt, and then counts as changed: the cache reloads from the dataset
    // it still has open rather than keep a copy of unknown age.
    bool Changed();

    // Empties the cache and calls OnUpdate. Throws EQuorlaCache when there is
    // no OnUpdate, leaving the contents as they were. An error raised by the
    // loader leaves the records added so far.
    void Reload();

    // A loader's work for a whole dataset: rewinds it on its primary index and
    // adds every record of a full scan under the dataset's current key. The
    // dataset's position moves.
    void FillFrom(TXIsamFile& dataset);

    static constexpr int MissingFileAttempts = 5;
    static constexpr int MissingFileWaitMs = 100;

protected:
    TQuorlaCache(qsizetype recordSize, const QString& fileName);

    void addCopy(const QString& key, std::span<const char> record);
    // `cacheName` completes the not-found message: "... in <cacheName> cache".
    void lookupCopy(const QString& key, std::span<char> record, const char* cacheName);

private:
    // What stat() tells about the file. The time is kept to the nanosecond: at
    // a coarser resolution (whole seconds, or the two seconds of old directory
    // searches) a change made within the same interval as the last load would
    // go unseen until the file changed again. Size and file number come free
    // with the same call and catch what the time alone can miss: a write in the
    // same tick of the file system's clock that grows the file, and a file
    // replaced by a copy that kept an old time. A change seen where there was
    // none costs one reload; a change missed shows stale names.
    struct FileSignature
    {
        qint64 seconds;
        qint64 nanoseconds;
        qint64 size;
        quint64 device;
        quint64 inode;
        bool operator==(const FileSignature&) const = default;
    };

    std::optional<FileSignature> statFile() const;

    QString fileName_;
    QByteArray nativeFileName_;
    qsizetype recordSize_;
    // Empty until the first load.
    std::optional<FileSignature> fileTime_;
    // Sorted keys, and beside them the record copies end to end in one block:
    // record i is at i * recordSize_.
    std::vector<QString> keys_;
    std::vector<char> records_;
};
