// Reading a file handle: its bytes, its size, its end.
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

std::size_t File::read(void* data, std::size_t size) {
  if (!is_open()) return 0;
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!ReadFile(win32::as_handle(handle_), static_cast<char*>(data) + done, chunk, &n, nullptr) ||
        n == 0)
      break;
    done += n;
    // A regular file reads short only at its end, and a pipe hands out what it holds: no
    // further call, which would wait on a pipe for more.
    if (n < chunk) break;
  }
  return done;
}

std::int64_t File::size() const {
  LARGE_INTEGER li;
  if (!is_open() || !GetFileSizeEx(win32::as_handle(handle_), &li)) return -1;
  return li.QuadPart;
}

bool File::seek_end() {
  LARGE_INTEGER zero{};
  return is_open() && SetFilePointerEx(win32::as_handle(handle_), zero, nullptr, FILE_END);
}

}  // namespace plat
