// Deleting a file by path.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

bool delete_file(const char* path) { return path && DeleteFileA(path); }

}  // namespace plat
