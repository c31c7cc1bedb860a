// Appending to a file that several processes may append to at once.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

bool append_to_file(const char* path, const void* data, std::size_t size) {
  if (!path || size != static_cast<DWORD>(size)) return false;  // one write takes 4 GiB at most
  // Append access alone: every write lands at the end of the file as it is then, whoever else
  // appends to it meanwhile.
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL wrote = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr);
  const BOOL closed = CloseHandle(h);
  return wrote && closed && written == size;
}

}  // namespace plat
