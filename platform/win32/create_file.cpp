// Creating a regular file, replacing one of that name, never writing through a link.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

namespace {

HANDLE create(const char* path, Share share, bool hidden, DWORD disposition) {
  // A reparse point (a link) is opened as itself, never followed, where the system allows it.
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, win32::share_mode(share), nullptr,
                     disposition,
                     (hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL) |
                         FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

}  // namespace

File create_file(const char* path, Share share, bool hidden) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return File();
  }
  // A new file when nothing has the name: creating one never follows a link, not even a
  // dangling one.
  HANDLE h = create(path, share, hidden, CREATE_NEW);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    // Something has the name. Only a file whose attributes can be read is replaced: a dangling
    // link or a pipe under Wine has none, and fails here without anything being touched.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return File();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      SetLastError(ERROR_ACCESS_DENIED);
      return File();
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link to a file: the link itself goes, and a new file takes its place.
      if (!DeleteFileA(path)) return File();
      h = create(path, share, hidden, CREATE_NEW);
    } else {
      h = create(path, share, hidden, CREATE_ALWAYS);
    }
  }
  return File(reinterpret_cast<std::intptr_t>(h));
}

}  // namespace plat
