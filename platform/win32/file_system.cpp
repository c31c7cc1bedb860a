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

bool is_folder(const char* path) {
  if (!path) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace plat
