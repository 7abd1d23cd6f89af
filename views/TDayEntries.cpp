#include "TDayEntries.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TStamp.h"

void TDayEntries::Add(const DayEntryRecord& entry, const QString& Pk, const TEntryDetails& details)
{
    Item item{Pk, std::make_unique<DayEntryRecord>(entry), details};
    if (UntimedFirst && (item.record->Flags() & DayEntryRecord::UnTimed) != 0)
        items_.insert(items_.begin(), std::move(item));
    else
        items_.push_back(std::move(item));
}

const QString TDayEntries::NotLoadedMark = QStringLiteral(" - not loaded");

void TDayEntries::AddContinued(const DayEntryRecord& entry, const QString& Pk, const TEntryDetails& details)
{
    Item item{Pk, std::make_unique<DayEntryRecord>(entry), details, true};
    items_.insert(items_.begin() + continued_++, std::move(item));
}

void TDayEntries::Clear()
{
    items_.clear();
    continued_ = 0;
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

const TEntryDetails& TDayEntries::Details(int index) const
{
    return at(index).details;
}

bool TDayEntries::Continued(int index) const
{
    return at(index).continued;
}

std::pair<QDate, QDate> TDayEntries::DaysOf(int index) const
{
    const Item& item = at(index);
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(item.record->StartTime())));
    const QDate first(stamp.Year(), stamp.Month(), stamp.Day());
    const bool unTimed = (item.record->Flags() & DayEntryRecord::UnTimed) != 0;
    if (unTimed || item.details.durationSeconds <= 0)
        return {first, item.details.lastDay(QDateTime(first, QTime(0, 0)), unTimed)};
    // The end in office time: the stamp knows its changes of the clock. An
    // end at midnight belongs to the day before.
    stamp.SetSeconds(stamp.Seconds() + item.details.durationSeconds - 1);
    return {first, QDate(stamp.Year(), stamp.Month(), stamp.Day())};
}

void TDayEntries::Spread(const QList<TDayEntries*>& days, const TDayEntries* earlier)
{
    if (days.isEmpty())
        return;
    // Onto the days after `from` (the first day shown when -1) that it reaches.
    const auto lay = [&days](const TDayEntries& source, int index, int from) {
        QDate last;
        try {
            last = source.DaysOf(index).second;
        } catch (const std::exception&) {
            return;
        }
        for (int d = from + 1; d < days.size() && days[d]->Day <= last; ++d)
            days[d]->AddContinued(*source.at(index).record, source.PkAt(index), source.Details(index));
    };
    if (earlier != nullptr) {
        for (int i = 0; i < earlier->Count(); ++i)
            lay(*earlier, i, -1);
    }
    for (int d = 0; d + 1 < days.size(); ++d) {
        for (int i = 0; i < days[d]->Count(); ++i) {
            if (!days[d]->Continued(i) && !days[d]->at(i).details.isEmpty())
                lay(*days[d], i, d);
        }
    }
}
