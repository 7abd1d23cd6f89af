#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <span>
#include <vector>

class TMachineServices;
class TXIsamFile;

// Copies of all records of one dataset by primary key, for look-ups that are
// far too frequent to read the dataset each time (the views ask for up to 20
// names per drawn line, and the dataset may be on a network drive or a server).
//
// The cache keeps itself fresh for all workstations at once: before every
// look-up it asks the dataset for its change mark (TXIsamFile::ChangeMark) and
// compares it with the mark it saw when it last loaded; when the dataset has
// changed - written by any workstation, this one included - it empties itself
// and loads again. It does not read the dataset itself: loading calls the
// owner's OnUpdate, which hands every record to AddRecord (FillFrom does that
// for a whole dataset).
//
// A look-up costs one change mark (one stat() of a folder's file, one round
// trip to a server), a binary search and a copy of one record; a full reload
// happens only when the dataset has changed.
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

    // Whether the dataset changed since the last call that answered true
    // (always true at first), remembering what it saw. A mark that cannot be
    // had (a missing file, a server out of reach) is asked for 5 times with a
    // wait of 100 ms (the machine's sleep) after each failed attempt, and then
    // counts as changed: the cache reloads rather than keep a copy of unknown
    // age.
    bool Changed();

    // Empties the cache and calls OnUpdate. Throws EQuorlaCache when there is
    // no OnUpdate, leaving the contents as they were. An error raised by the
    // loader leaves the records added so far.
    void Reload();

    // A loader's work for a whole dataset: rewinds it on its primary index and
    // adds every record of a full scan under the dataset's current key. The
    // dataset's position moves. A scan cut short by a failure (not its end)
    // throws EQuorlaCache with the dataset's ErrorText and makes the next
    // look-up load again, rather than leave a part of the records for all.
    void FillFrom(TXIsamFile& dataset);

    static constexpr int MissingFileAttempts = 5;
    static constexpr int MissingFileWaitMs = 100;

protected:
    // `machine` waits between the attempts of Changed().
    TQuorlaCache(qsizetype recordSize, TXIsamFile& dataset, TMachineServices& machine);

    void addCopy(const QString& key, std::span<const char> record);
    // `cacheName` completes the not-found message: "... in <cacheName> cache".
    void lookupCopy(const QString& key, std::span<char> record, const char* cacheName);

private:
    TXIsamFile& dataset_;
    TMachineServices& machine_;
    qsizetype recordSize_;
    // The dataset's change mark at the last load; empty until the first.
    std::optional<QByteArray> mark_;
    // Sorted keys, and beside them the record copies end to end in one block:
    // record i is at i * recordSize_.
    std::vector<QString> keys_;
    std::vector<char> records_;
};
