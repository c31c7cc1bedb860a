// Opening an existing file, or creating a missing one.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

File open_file(const char* path, bool writable, Share share, bool create, bool hidden) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return File();
  }
  const DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
  HANDLE h = CreateFileA(path, access, win32::share_mode(share), nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING,
                         hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL, nullptr);
  return File(reinterpret_cast<std::intptr_t>(h));
}

}  // namespace plat
