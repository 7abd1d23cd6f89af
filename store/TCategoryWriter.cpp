#include "TCategoryWriter.h"

#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TCommandScope.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
#include "TXIsamFile.h"

namespace {

// Room of a category's description in a summary.
constexpr int TrailCapacity = 80;

} // namespace

const QString TCategoryWriter::Locked
    = QStringLiteral("Unable to complete deletion. Another user has locked the database");

TCategoryWriter::TCategoryWriter(TQuorlaDB& database)
    : OnWrite(writer_.OnWrite), database_(database)
{
}

void TCategoryWriter::record(TChangeTrail::Action action, TXIsamFile& dataset, const QString& key, const QString& subject,
                             const QString& summary)
{
    database_.Trail().Record({action, &dataset, key, subject, summary});
}

QString TCategoryWriter::addCategory(const QString& description, CategoryRecord& record)
{
    record.clear();
    record.setDescription(description);
    CategoryRecord existing;
    TXIsamFile& categories = database_.Categories();
    if (TLookup::Equal(categories, existing.bytes(), CategoryRecord::DescriptionIndex, description))
        return QString();
    const TCommandScope command(database_);
    const QString key = writer_.insert(categories, record.bytes());
    this->record(TChangeTrail::Action::CategoryAdded, categories, key, TChangeTrail::CategorySubject(key),
           TChangeSummary::Quoted(description, TrailCapacity));
    return key;
}

bool TCategoryWriter::renameCategory(const QString& key, const QString& description, CategoryRecord& record)
{
    TXIsamFile& categories = database_.Categories();
    const TRecordLock lock(categories, key, &database_.Holders());
    if (!lock.Held()) {
        lockHolder_ = lock.HolderLine();
        return false;
    }
    if (!TLookup::Equal(categories, record.bytes(), TXIsamFile::PrimaryIndex, key))
        throw EQuorla(TXIsamFile::ErrorText(IsamNotFound));
    const QString before = record.Description();
    record.setDescription(description);
    const TCommandScope command(database_);
    writer_.update(categories, key, record.bytes());
    this->record(TChangeTrail::Action::CategoryRenamed, categories, key, TChangeTrail::CategorySubject(key),
                 TChangeSummary::Quoted(before, 70) + QStringLiteral(" → ") + TChangeSummary::Quoted(description, 70));
    return true;
}

int TCategoryWriter::deleteCategory(const QString& key)
{
    TXIsamFile& entries = database_.DayEntries();
    DayEntryRecord entry;
    int changed = 0;
    const QString named = TChangeSummary(database_).CategoryNamed(key);
    // Repeating events' templates too, so no occurrence made later carries it.
    TSeriesWriter series(database_);
    series.OnWrite = writer_.OnWrite;
    series.ReworkTemplates(
        [&](SeriesRecord& s) {
            if (s.CategoryKey() != key)
                return TSeriesWriter::TemplateAction::Keep;
            s.setCategoryKey(QString(RecordKey::None));
            return TSeriesWriter::TemplateAction::Write;
        },
        Locked, QStringLiteral("category %1 → none: the category was deleted").arg(named));
    if (!entries.Rewind(TXIsamFile::PrimaryIndex))
        throw EQuorla(entries.ErrorText());
    while (TLookup::Next(entries, entry.bytes(), TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        if (entry.CategoryKey() != key)
            continue;
        const QString entryKey = entries.CurrentKey();
        const TRecordLock lock(entries, entryKey, Locked, &database_.Holders());
        // Changed or deleted elsewhere since the scan read it: only the
        // contents under the lock count. The look-up also keeps the scan's
        // place, so it goes on after this key either way.
        if (!TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, entryKey) || entry.CategoryKey() != key)
            continue;
        entry.setCategoryKey(QString(RecordKey::None));
        const TCommandScope command(database_);
        writer_.update(entries, entryKey, entry.bytes());
        record(TChangeTrail::Action::EventChanged, entries, entryKey, TChangeTrail::EntrySubject(entryKey),
               TChangeSummary::OfEntry(entry,
                                       QStringLiteral("category %1 → none: the category was deleted").arg(named)));
        ++changed;
    }
    TXIsamFile& categories = database_.Categories();
    const TRecordLock lock(categories, key, Locked, &database_.Holders());
    CategoryRecord category;
    if (!TLookup::Equal(categories, category.bytes(), TXIsamFile::PrimaryIndex, key))
        throw EQuorla(categories.ErrorText());
    const TCommandScope command(database_);
    writer_.remove(categories, key, category.bytes());
    record(TChangeTrail::Action::CategoryDeleted, categories, key, TChangeTrail::CategorySubject(key),
           QStringLiteral("%1; %2 events un-categorised").arg(named).arg(changed));
    return changed;
}
