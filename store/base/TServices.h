#pragma once

#include "TDesktopServices.h"
#include "TMachineServices.h"
#include "TPersonServices.h"

// The person, the desktop and the machine in one object, installed once for
// the whole program and reached through current().
class TServices : public TPersonServices, public TDesktopServices, public TMachineServices
{
public:
    TServices() = default;
    ~TServices() override;

    // The installed services. Calling it before anything was installed is a
    // programming error and ends the process with a message.
    static TServices& current();
    // Installs `services` (not owned; nullptr uninstalls) and returns the one
    // installed before, so that a temporary installation can be undone. The
    // caller keeps it alive while installed; destroying it uninstalls it.
    static TServices* setCurrent(TServices* services);
};
