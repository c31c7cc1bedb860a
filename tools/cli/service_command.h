// `idcard service ACTION`: idcard serve in the background as a Windows service, started with the
// system and restarted by the service manager when it fails.
#pragma once

#include "tools/cli/options.h"

namespace idcard {

// The service as the service manager shows it: its key name, display name and description. The
// Windows installer registers the same service: its build reads these lines (one literal each).
inline constexpr char kServiceName[] = "idcard";
inline constexpr char kServiceDisplayName[] = "idcard card reader service";
inline constexpr char kServiceDescription[] =
    "Reads the resident identity card for web pages on loopback (idcard serve).";
// The service's log beside the program, unless the options name another (the installer removes
// it with the program).
inline constexpr char kServiceLog[] = "idcard-service.log";

// install (the service runs `idcard service run [--config FILE]`), uninstall, start, stop; run is
// what the service manager starts. The exit status: 0 done, 1 refused by the system, 2 for a
// configuration that cannot work.
int service_command(const Options& o);

}  // namespace idcard
