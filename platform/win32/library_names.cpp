// A library's file name on Windows: the Windows name itself.
#include "platform/platform.h"

namespace plat {

Path library_file_name(const char* windows_name) { return Path(windows_name ? windows_name : ""); }

}  // namespace plat
