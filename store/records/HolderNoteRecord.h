#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>

#include <cstddef>

// A note of who holds a record lock for editing, a record of the holder notes
// dataset: the locked record (`Target`: its dataset's name, "#" and its key;
// index 1), the user, the workstation and the moment the lock was taken. The
// holder also holds the lock on the note's own key for as long as the note
// stands, so a note whose lock can be taken is stale: its holder is gone.
class HolderNoteRecord : public TRecordBuffer<111>
{
public:
    static constexpr QLatin1StringView FileName{"QLHolders.Ism"};
    static constexpr QLatin1StringView Format{"X$*24,$*11,$*65,$*11"};

    static constexpr std::size_t TargetOffset = 0;
    static constexpr std::size_t TargetWidth = 24;
    static constexpr std::size_t UserKeyOffset = 24;
    static constexpr std::size_t WorkstationOffset = 35;
    static constexpr std::size_t WorkstationWidth = 65;
    static constexpr std::size_t SinceOffset = 100;

    static constexpr qint16 TargetIndex = 1;

    QString Target() const { return text(TargetOffset, TargetWidth); }
    QString UserKey() const { return text(UserKeyOffset, 11); }
    QString Workstation() const { return text(WorkstationOffset, WorkstationWidth); }
    // Time key (TStamp seconds) at which the lock was taken.
    QString Since() const { return text(SinceOffset, 11); }

    void set(const QString& target, const QString& userKey, const QString& workstation, const QString& since);
};

static_assert(HolderNoteRecord::SinceOffset + 11 == HolderNoteRecord::Size);
