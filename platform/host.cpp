// What host.h offers the same way on every system, built on platform.h alone.
#include "platform/host.h"

namespace plat {

std::string executable_folder() { return std::string(folder_of(executable_path())); }

}  // namespace plat
