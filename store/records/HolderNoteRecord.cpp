#include "HolderNoteRecord.h"

void HolderNoteRecord::set(const QString& target, const QString& userKey, const QString& workstation,
                           const QString& since)
{
    clear();
    setText(TargetOffset, TargetWidth, target, "lock");
    setText(UserKeyOffset, 11, userKey, "user");
    setText(WorkstationOffset, WorkstationWidth, workstation, "workstation");
    setText(SinceOffset, 11, since, "time");
}
