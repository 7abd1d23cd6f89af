#include "TCategoryWriter.h"

#include "CategoryRecord.h"
#include "EQuorla.h"
#include "TXIsamFile.h"

#include <QScopeGuard>

namespace {

constexpr qint16 PrimaryIndex = 0;
constexpr qint16 DescriptionIndex = 1;

} // namespace

TCategoryWriter::TCategoryWriter(TXIsamFile& categories)
    : categories_(categories)
{
}

QString TCategoryWriter::addCategory(const QString& description, CategoryRecord& record)
{
    if (categories_.GetEqual(record.bytes(), DescriptionIndex, description))
        return QString();
    record.clear();
    record.setDescription(description);
    if (!categories_.Insert(record.bytes()))
        throw EQuorla(categories_.ErrorText());
    return categories_.CurrentKey();
}

bool TCategoryWriter::renameCategory(const QString& key, const QString& description, CategoryRecord& record)
{
    if (!categories_.Lock(key))
        return false;
    const auto unlock = qScopeGuard([&] { categories_.Unlock(key); });
    if (!categories_.GetEqual(record.bytes(), PrimaryIndex, key))
        throw EQuorla(categories_.ErrorText());
    record.setDescription(description);
    if (!categories_.Update(record.bytes(), key))
        throw EQuorla(categories_.ErrorText());
    return true;
}
