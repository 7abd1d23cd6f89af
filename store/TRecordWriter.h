#pragma once

#include "TXIsamFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <span>
#include <vector>


// The one road by which the store's writers change records. Each write is one
// engine call that either succeeds or throws EQuorla with the dataset's error
// text, and is told to the observer before it is made and after it succeeded
// (the reliability check logs both, to prove afterwards that every
// acknowledged write is there).
class TRecordWriter
{
public:
    // One write, reported before it is made (`made` false; an insert under the
    // next key does not know it yet) and after it succeeded (`made` true). A
    // delete carries the deleted record where it was read under the lock, else
    // no bytes. `failed`: reported after a write that failed and is tried
    // again differently (an insert whose key was taken meanwhile).
    struct TWrite
    {
        enum Kind { Insert, Update, Delete };
        Kind kind;
        bool made;
        const TXIsamFile* dataset;
        QString key;
        QByteArray bytes;
        bool failed = false;
    };

    // Told of every write (observers only).
    std::function<void(const TWrite&)> OnWrite;

    // Adds a record under the dataset's next key; returns that key.
    QString insert(TXIsamFile& dataset, std::span<const char> record);
    // Adds a record under `key`; false when the key exists already (nothing
    // written: another workstation took it), throws for any other failure.
    bool insertUnder(TXIsamFile& dataset, const QString& key, std::span<const char> record);
    // Replaces the record stored under `key`.
    void update(TXIsamFile& dataset, const QString& key, std::span<const char> record);
    // Removes the record under `key`; one already gone counts as removed.
    // `was` is what it held, where known (for the observer).
    void remove(TXIsamFile& dataset, const QString& key, std::span<const char> was = {});

    // Makes the writes in one transaction (TXIsamFile::WriteBatch): all or
    // none; throws EQuorla with the dataset's error text when none. Each is
    // told to the observer before and, with its key, after.
    void writeBatch(TXIsamFile& dataset, QList<TXIsamFile::TBatchWrite>& writes);
    // writeBatch with `along`'s batches of other datasets of the same
    // database sent with it (TXIsamFile::WriteBatchAlong): on a server one
    // exchange. `along`'s writes are told by `alongTeller`, this writer's own
    // by itself.
    void writeBatchAlong(TXIsamFile& dataset, QList<TXIsamFile::TBatchWrite>& writes,
                         const std::vector<TXIsamFile::TWritesAlong>& along, TRecordWriter& alongTeller);

    static QByteArray bytesOf(std::span<const char> record);

private:
    // Tells each of `writes` to `dataset`'s observer, before or after.
    void tellBatch(const TXIsamFile& dataset, const QList<TXIsamFile::TBatchWrite>& writes, bool made);
    void tell(TWrite::Kind kind, bool made, const TXIsamFile& dataset, const QString& key, const QByteArray& bytes,
              bool failed = false);
};
