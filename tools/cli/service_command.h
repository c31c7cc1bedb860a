// `idcard service ACTION`: idcard serve in the background as a Windows service, started with the
// system and restarted by the service manager when it fails.
#pragma once

#include "tools/cli/options.h"

namespace idcard {

// The service's key name in the service manager.
inline constexpr char kServiceName[] = "idcard";
// The service's log beside the program, unless the options name another.
inline constexpr char kServiceLog[] = "idcard-service.log";

// install (the service runs `idcard service run [--config FILE]`), uninstall, start, stop; run is
// what the service manager starts. The exit status: 0 done, 1 refused by the system, 2 for a
// configuration that cannot work.
int service_command(const Options& o);

}  // namespace idcard
