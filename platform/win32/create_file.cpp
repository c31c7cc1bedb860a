// Creating a file, replacing one of that name.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

File create_file(const char* path, Share share, bool hidden) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return File();
  }
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, win32::share_mode(share), nullptr,
                         CREATE_ALWAYS, hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  return File(reinterpret_cast<std::intptr_t>(h));
}

}  // namespace plat
