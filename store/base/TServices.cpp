#include "TServices.h"

#include <QtGlobal>

namespace {
template <class Part>
Part& given(Part* part, const char* what)
{
    if (part == nullptr)
        qFatal("No %s services were handed in", what);
    return *part;
}
} // namespace

TPersonServices& TServices::person() const
{
    return given(person_, "person");
}

TDesktopServices& TServices::desktop() const
{
    return given(desktop_, "desktop");
}

TMachineServices& TServices::machine() const
{
    return given(machine_, "machine");
}
