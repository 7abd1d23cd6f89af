#include "TDetailHeads.h"

#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TXIsamFile.h"

namespace {

// Look-ups made without the heads, as a share of the heads held, after
// which stale heads are read again: a full read costs about what a tenth
// of its records looked up one by one costs.
constexpr qsizetype OwedShare = 10;

} // namespace

bool TDetailHeads::Current(TXIsamFile& details, qsizetype asking)
{
    QByteArray mark;
    if (!details.ChangeMark(mark))
        return false;
    if (held_ && readFrom_ == &details && mark == mark_)
        return true;
    owed_ += asking;
    if (held_ && readFrom_ == &details && owed_ < heads_.size() / OwedShare)
        return false;
    // The mark is taken before the read: a write during it moves the mark
    // again, and the next look reads once more.
    read(details);
    mark_ = mark;
    return true;
}

void TDetailHeads::read(TXIsamFile& details)
{
    held_ = false;
    heads_.clear();
    byReach_.clear();
    places_.clear();
    owed_ = 0;
    readFrom_ = &details;
    DetailRecord record;
    // In the order of the primary key, which is the order the records lie in.
    const bool read = details.Range(record.bytes(), TXIsamFile::PrimaryIndex, RecordKey::format(0),
                                    QString(10, QLatin1Char('9')), [&] {
                                        if (record.Part() == 0)
                                            take(record);
                                        return true;
                                    });
    if (!read && details.LastError() != IsamNotFound) {
        heads_.clear();
        byReach_.clear();
        throw EQuorlaDB(details.ErrorText());
    }
    held_ = true;
}

void TDetailHeads::take(const DetailRecord& head)
{
    THead kept{DetailRecords::HeadOnly(head), head.Parts(), head.Reach()};
    // Most heads of an office name one of a few places.
    auto place = places_.constFind(kept.details.location);
    if (place == places_.cend())
        place = places_.insert(kept.details.location, kept.details.location);
    kept.details.location = *place;
    const QString owner = head.Owner();
    // Two heads of one owner are a replacement caught half way by a copy:
    // the later key is the newer.
    if (const auto before = heads_.constFind(owner); before != heads_.cend())
        byReach_.remove(before->reach, owner);
    if (!kept.reach.isEmpty())
        byReach_.insert(kept.reach, owner);
    heads_.insert(owner, std::move(kept));
}

const TDetailHeads::THead* TDetailHeads::Find(const QString& owner) const
{
    const auto found = heads_.constFind(owner);
    return found == heads_.cend() ? nullptr : &*found;
}

QStringList TDetailHeads::ReachingFrom(const QString& from, const QString& to) const
{
    QStringList owners;
    for (auto it = byReach_.lowerBound(from); it != byReach_.cend() && it.key() <= to; ++it)
        owners << it.value();
    return owners;
}
