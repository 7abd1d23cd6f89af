// A group's stored text: any text is taken, and what it becomes is written
// back and read again unchanged.
#include "TGroup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TGroup group;
    group.SetFromText(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QString text = group.AsText();
    TGroup again;
    again.SetFromText(text);
    if (again.Name != group.Name || again.Members != group.Members || again.AsText() != text)
        std::abort();
    return 0;
}
