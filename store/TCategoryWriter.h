#pragma once

#include "TChangeTrail.h"
#include "TRecordWriter.h"

#include <QString>

#include <functional>

class CategoryRecord;
class TQuorlaDB;
class TXIsamFile;

// The record rules of the categories dialog, without the dialog: adding a
// category (descriptions are unique), renaming one and deleting one, which
// first clears it from every entry that carries it. Only "no such record"
// means a record is missing; any other failure raises EQuorla with the
// dataset's error text.
class TCategoryWriter
{
public:
    using TWrite = TRecordWriter::TWrite;

    static const QString Locked;

    explicit TCategoryWriter(TQuorlaDB& database);

    // Told of every write (observers only).
    std::function<void(const TWrite&)>& OnWrite;

    // Adds a category under the next key and answers that key, `record` then
    // holding what was stored; an empty key when a category with this
    // description exists already (nothing written).
    QString addCategory(const QString& description, CategoryRecord& record);

    // Renames the category under its record lock, re-reading it there; false
    // when another holder has the lock (nothing written). Throws EQuorla with
    // "Object not found" when no category is stored under the key.
    bool renameCategory(const QString& key, const QString& description, CategoryRecord& record);

    // Deletes the category: every repeating event's template and every
    // entry that carries it becomes un-categorised (each under its lock, as
    // it is under the lock), then the category goes. A lock held elsewhere stops it with EQuorla(Locked); the
    // entries handled before stay un-categorised and the category stays, so
    // running it again finishes the rest. Returns the entries changed.
    int deleteCategory(const QString& key);

    // After a refused rename: who holds the category's lock, where a note
    // tells.
    const QString& LockHolder() const { return lockHolder_; }

private:
    void record(TChangeTrail::Action action, TXIsamFile& dataset, const QString& key, const QString& subject,
                const QString& summary);

    TQuorlaDB& database_;
    TRecordWriter writer_;
    QString lockHolder_;
};
