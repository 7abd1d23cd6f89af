#include "TDayEntries.h"

#include "EQuorla.h"

void TDayEntries::Add(const DayEntryRecord& entry, const QString& Pk)
{
    Item item{Pk, std::make_unique<DayEntryRecord>(entry)};
    if (UntimedFirst && (item.record->Flags() & DayEntryRecord::UnTimed) != 0)
        items_.insert(items_.begin(), std::move(item));
    else
        items_.push_back(std::move(item));
}

const QString TDayEntries::NotLoadedMark = QStringLiteral(" - not loaded");

void TDayEntries::Clear()
{
    items_.clear();
    notLoaded_ = false;
}

int TDayEntries::Count() const
{
    return static_cast<int>(items_.size());
}

DayEntryRecord TDayEntries::Entry(int index) const
{
    return *at(index).record;
}

QString TDayEntries::PkAt(int index) const
{
    return at(index).pk;
}

const TDayEntries::Item& TDayEntries::at(int index) const
{
    if (index < 0 || index >= Count())
        throw EQuorla(QStringLiteral("List index out of bounds (%1)").arg(index));
    return items_[static_cast<std::size_t>(index)];
}
