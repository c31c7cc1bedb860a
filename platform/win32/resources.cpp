// What the platform layer keeps open for a library on Windows: nothing, since every call opens and
// closes what it uses; the unload notification still calls release_resources().
#include "platform/platform.h"

namespace plat {

void release_resources() {}

}  // namespace plat
