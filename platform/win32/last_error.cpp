// The last error code of the calling thread.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

std::uint32_t last_error() { return GetLastError(); }

}  // namespace plat
