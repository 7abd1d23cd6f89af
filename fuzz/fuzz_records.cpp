// Records decoded from any bytes: every getter of every record class, and a
// format string made of the same bytes.
#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "TIsamFormat.h"
#include "UserRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
template <typename Record>
void fill(Record& r, const uint8_t* data, size_t size)
{
    const auto bytes = r.bytes();
    std::memcpy(bytes.data(), data, std::min(size, bytes.size()));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    UserRecord user;
    fill(user, data, size);
    (void)user.Rights(), (void)user.FullName(), (void)user.UserName(), (void)user.Password(), (void)user.Abbreviation();
    CategoryRecord category;
    fill(category, data, size);
    (void)category.Description();
    AlarmRecord alarm;
    fill(alarm, data, size);
    (void)alarm.Flags(), (void)alarm.AlarmTime(), (void)alarm.DayEntryKey(), (void)alarm.UserKey(),
        (void)alarm.UserAlarmKey();
    DayEntryRecord entry;
    fill(entry, data, size);
    (void)entry.Flags(), (void)entry.Tag(), (void)entry.StartTime(), (void)entry.OwnerKey(), (void)entry.CategoryKey(),
        (void)entry.Description(), (void)entry.AssigneeKeys();
    for (int slot = -1; slot <= DayEntryRecord::MaxAssignees; ++slot)
        (void)entry.Assignee(slot);

    TIsamFormat format;
    if (format.parse(QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size)))) {
        // Index values of a record of that layout read inside the record.
        std::vector<char> record(format.recordSize(), 'x');
        for (int ix : format.indexes())
            (void)format.indexValue(ix, record.data());
    }
    return 0;
}
