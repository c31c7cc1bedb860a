// How the service manager restarts the idcard service when it fails: `idcard service install`
// (services.cpp) sets these, and the Windows installer registers the same (release/msi/make-msi.sh
// reads them from this file, one constant a line as written here).
#pragma once

#include <cstddef>
#include <iterator>

namespace plat::win32 {

// The delay before each restart, in milliseconds: 5 seconds for the first two, a minute for the
// third and every later one.
inline constexpr unsigned long kServiceRestartDelaysMs[] = {5000, 5000, 60000};
inline constexpr std::size_t kServiceRestarts = std::size(kServiceRestartDelaysMs);
// The failures are counted anew after this many seconds without one: a day.
inline constexpr unsigned long kServiceFailureResetSeconds = 24 * 60 * 60;

}  // namespace plat::win32
