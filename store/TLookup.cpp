#include "TLookup.h"

#include "EQuorla.h"
#include "IsamCode.h"
#include "TXIsamFile.h"

namespace {

bool answer(TXIsamFile& dataset, bool found)
{
    if (!found && dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
    return found;
}

} // namespace

bool TLookup::Equal(TXIsamFile& dataset, std::span<char> record, qint16 index, const QString& key)
{
    return answer(dataset, dataset.GetEqual(record, index, key));
}

bool TLookup::Next(TXIsamFile& dataset, std::span<char> record, qint16 index, const QString& key,
                   TXIsamFile::ScanMode mode)
{
    return answer(dataset, dataset.Get(record, index, key, mode));
}

void TLookup::Each(TXIsamFile& dataset, std::span<char> record, const std::function<void(const QString& key)>& take)
{
    if (!dataset.Rewind(TXIsamFile::PrimaryIndex))
        throw EQuorla(dataset.ErrorText());
    while (Next(dataset, record, TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext))
        take(dataset.CurrentKey());
}
