#pragma once

#include <QString>

class CategoryRecord;
class TXIsamFile;

// The record-level work of the category dialog's Add and Update, without the
// dialog, so that the reliability check runs exactly what the dialog writes.
// Data-store failures raise EQuorla with the dataset's error text.
class TCategoryWriter
{
public:
    explicit TCategoryWriter(TXIsamFile& categories);

    // Adds a category under the next key and answers that key, `record` then
    // holding what was stored; an empty key when a category with this
    // description exists already (nothing written).
    QString addCategory(const QString& description, CategoryRecord& record);

    // Renames the category under its record lock, re-reading it there; false
    // when another holder has the lock (nothing written).
    bool renameCategory(const QString& key, const QString& description, CategoryRecord& record);

private:
    TXIsamFile& categories_;
};
