// A file handle: moving, closing, writing.
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = win32::kNoHandle; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = win32::kNoHandle;
  }
  return *this;
}
File::~File() { close(); }
bool File::is_open() const { return handle_ != win32::kNoHandle; }

std::size_t File::write(const void* data, std::size_t size) {
  if (!is_open()) return 0;
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!WriteFile(win32::as_handle(handle_), static_cast<const char*>(data) + done, chunk, &n,
                   nullptr) ||
        n == 0)
      break;
    done += n;
  }
  return done;
}

bool File::close() {
  const bool closed = !is_open() || CloseHandle(win32::as_handle(handle_));
  handle_ = win32::kNoHandle;
  return closed;
}

}  // namespace plat
