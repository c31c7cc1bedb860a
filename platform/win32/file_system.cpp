// Copying files and finding them by path.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

bool copy_file(const char* from, const char* to) {
  return from && to && CopyFileA(from, to, FALSE);
}

bool file_exists(const char* path) {
  return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace plat
