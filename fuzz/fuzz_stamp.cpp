// Typed dates and times: a stamp set from any calendar parts, and any picture
// formatted.
#include "EStamp.h"
#include "TStamp.h"

#include <QDateTime>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int parts[6] = {};
    const size_t head = std::min(size, sizeof parts);
    std::memcpy(parts, data, head);
    TStamp stamp;
    try {
        stamp.SetDateTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
        (void)stamp.Key();
    } catch (const EStamp&) {
    }
    const QString picture = QString::fromUtf8(reinterpret_cast<const char*>(data) + head, qsizetype(size - head));
    (void)TStamp::FormatDateTime(picture, QDateTime(QDate(2024, 5, 15), QTime(10, 30, 5)));
    return 0;
}
