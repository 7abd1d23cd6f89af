#include "TCategoryWriter.h"

#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TXIsamFile.h"

const QString TCategoryWriter::Locked
    = QStringLiteral("Unable to complete deletion. Another user has locked the database");

TCategoryWriter::TCategoryWriter(TQuorlaDB& database)
    : OnWrite(writer_.OnWrite), database_(database)
{
}

QString TCategoryWriter::addCategory(const QString& description, CategoryRecord& record)
{
    record.clear();
    record.setDescription(description);
    CategoryRecord existing;
    TXIsamFile& categories = database_.Categories();
    if (TLookup::Equal(categories, existing.bytes(), CategoryRecord::DescriptionIndex, description))
        return QString();
    return writer_.insert(categories, record.bytes());
}

bool TCategoryWriter::renameCategory(const QString& key, const QString& description, CategoryRecord& record)
{
    TXIsamFile& categories = database_.Categories();
    const TRecordLock lock(categories, key);
    if (!lock.Held())
        return false;
    if (!TLookup::Equal(categories, record.bytes(), TXIsamFile::PrimaryIndex, key))
        throw EQuorla(TXIsamFile::ErrorText(IsamNotFound));
    record.setDescription(description);
    writer_.update(categories, key, record.bytes());
    return true;
}

int TCategoryWriter::deleteCategory(const QString& key)
{
    TXIsamFile& entries = database_.DayEntries();
    DayEntryRecord entry;
    int changed = 0;
    if (!entries.Rewind(TXIsamFile::PrimaryIndex))
        throw EQuorla(entries.ErrorText());
    while (TLookup::Next(entries, entry.bytes(), TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        if (entry.CategoryKey() != key)
            continue;
        const QString entryKey = entries.CurrentKey();
        const TRecordLock lock(entries, entryKey, Locked);
        // Changed or deleted elsewhere since the scan read it: only the
        // contents under the lock count. The look-up also keeps the scan's
        // place, so it goes on after this key either way.
        if (!TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, entryKey) || entry.CategoryKey() != key)
            continue;
        entry.setCategoryKey(QString(RecordKey::None));
        writer_.update(entries, entryKey, entry.bytes());
        ++changed;
    }
    TXIsamFile& categories = database_.Categories();
    const TRecordLock lock(categories, key, Locked);
    CategoryRecord category;
    if (!TLookup::Equal(categories, category.bytes(), TXIsamFile::PrimaryIndex, key))
        throw EQuorla(categories.ErrorText());
    writer_.remove(categories, key, category.bytes());
    return changed;
}
