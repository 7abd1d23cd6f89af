#pragma once

#include "TDesktopServices.h"
#include "TMachineServices.h"
#include "TPersonServices.h"

#include <concepts>

// The services a part of the program is handed, from main() or from a test,
// and hands on to the parts it makes: the person, the desktop and the
// machine. A command-line tool has no desktop and may have no person; asking
// for one that was not handed in is a programming error and ends the process
// with a message. Copying it copies three pointers: the services themselves
// belong to whoever made them and outlive everything they are handed to.
class TServices
{
public:
    TServices(TPersonServices* person, TDesktopServices* desktop, TMachineServices* machine)
        : person_(person), desktop_(desktop), machine_(machine)
    {
    }
    // Whichever of the three `all` serves (the desktop program's and a
    // test's serve all three in one object).
    template <class All>
        requires(std::derived_from<All, TPersonServices> || std::derived_from<All, TDesktopServices>
                 || std::derived_from<All, TMachineServices>)
    TServices(All& all) : TServices(part<TPersonServices>(all), part<TDesktopServices>(all), part<TMachineServices>(all))
    {
    }

    TPersonServices& person() const;
    TDesktopServices& desktop() const;
    TMachineServices& machine() const;

private:
    template <class Part, class All>
    static Part* part(All& all)
    {
        if constexpr (std::derived_from<All, Part>)
            return &all;
        else
            return nullptr;
    }

    TPersonServices* person_;
    TDesktopServices* desktop_;
    TMachineServices* machine_;
};
