#pragma once

#include "TServices.h"

#include <optional>

// The services of the benchmark program. Each benchmark installs its own for
// its run; what it builds, however deep down, is handed running(), which
// passes every call on to the services installed at the moment of the call.
// A call while none is installed ends the process.
namespace BenchServices {

TServices running();
// Installs `services` (nullopt uninstalls) and answers the ones installed
// before, for the benchmark to put back at its end.
std::optional<TServices> install(std::optional<TServices> services);

} // namespace BenchServices
