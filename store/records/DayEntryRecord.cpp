#include "DayEntryRecord.h"

#include "RecordKey.h"

#include <cstring>
#include <string_view>

void DayEntryRecord::initialise()
{
    clear();
    setTag(1);
    setCategoryKey(RecordKey::None);
    for (int slot = 0; slot < MaxAssignees; ++slot)
        setAssignee(slot, RecordKey::None);
}

qint32 DayEntryRecord::Flags() const
{
    return int32(FlagsOffset);
}

void DayEntryRecord::setFlags(qint32 flags)
{
    setInt32(FlagsOffset, flags);
}

qint16 DayEntryRecord::Tag() const
{
    return int16(TagOffset);
}

void DayEntryRecord::setTag(qint16 tag)
{
    setInt16(TagOffset, tag);
}

QString DayEntryRecord::StartTime() const
{
    return text(StartTimeOffset, StartTimeWidth);
}

void DayEntryRecord::setStartTime(const QString& key)
{
    setText(StartTimeOffset, StartTimeWidth, key, "start time");
}

QString DayEntryRecord::OwnerKey() const
{
    return text(OwnerKeyOffset, OwnerKeyWidth);
}

void DayEntryRecord::setOwnerKey(const QString& key)
{
    setText(OwnerKeyOffset, OwnerKeyWidth, key, "owner key");
}

QString DayEntryRecord::CategoryKey() const
{
    return text(CategoryKeyOffset, CategoryKeyWidth);
}

void DayEntryRecord::setCategoryKey(const QString& key)
{
    setText(CategoryKeyOffset, CategoryKeyWidth, key, "category key");
}

QString DayEntryRecord::Description() const
{
    return text(DescriptionOffset, DescriptionWidth);
}

void DayEntryRecord::setDescription(const QString& description)
{
    setText(DescriptionOffset, DescriptionWidth, description, "description");
}

bool DayEntryRecord::validSlot(int slot)
{
    const bool valid = slot >= 0 && slot < MaxAssignees;
    Q_ASSERT_X(valid, "DayEntryRecord", "assignee slot out of range");
    return valid;
}

QString DayEntryRecord::Assignee(int slot) const
{
    if (!validSlot(slot))
        return RecordKey::None;
    return text(AssigneesOffset + static_cast<std::size_t>(slot) * AssigneeWidth, AssigneeWidth);
}

void DayEntryRecord::setAssignee(int slot, const QString& key)
{
    if (!validSlot(slot))
        return;
    setText(AssigneesOffset + static_cast<std::size_t>(slot) * AssigneeWidth, AssigneeWidth, key, "assignee key");
}

QStringList DayEntryRecord::AssigneeKeys() const
{
    QStringList keys;
    for (int slot = 0; slot < MaxAssignees; ++slot) {
        // Most slots are empty: those are passed over before a text is made
        // of them (an export reads this for a hundred thousand entries).
        const char* at = bytes().data() + AssigneesOffset + std::size_t(slot) * AssigneeWidth;
        const std::string_view stored(at, strnlen(at, AssigneeWidth));
        if (stored.empty() || stored == std::string_view(RecordKey::None.data(), std::size_t(RecordKey::None.size())))
            continue;
        const QString key = Assignee(slot);
        if (!key.isEmpty() && key != RecordKey::None)
            keys.append(key);
    }
    return keys;
}

void DayEntryRecord::setAssigneeKeys(const QStringList& keys)
{
    Q_ASSERT_X(keys.size() <= MaxAssignees, "DayEntryRecord", "more than MaxAssignees assignees");
    for (int slot = 0; slot < MaxAssignees; ++slot)
        setAssignee(slot, slot < keys.size() ? keys.at(slot) : QString(RecordKey::None));
}
