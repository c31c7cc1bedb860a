// The platform layer on Windows: Win32 loading, WideCharToMultiByte, string resources, files.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace plat {

Module load_library(const char* windows_name) {
  return windows_name ? reinterpret_cast<Module>(LoadLibraryA(windows_name)) : nullptr;
}

void free_library(Module library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

void* entry_point(Module library, const char* name) {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

Module find_loaded_module(const char* windows_name) {
  return windows_name ? reinterpret_cast<Module>(GetModuleHandleA(windows_name)) : nullptr;
}

Module own_module() {
  HMODULE m = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&own_module), &m);
  return m;
}

namespace {

std::string module_file_name(HMODULE module) {
  std::vector<char> buf(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetModuleFileNameA(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size() - 1) return std::string(buf.data(), n);
    if (buf.size() >= 65536) return {};
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string module_path(Module module) {
  return module ? module_file_name(static_cast<HMODULE>(module)) : std::string();
}

std::string executable_path() { return module_file_name(nullptr); }

int ucs2_to_ansi(const unsigned char* src, int units, char* dst, int dst_size, unsigned flags) {
  if (!src || !dst || units <= 0 || dst_size <= 0) return 0;
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  for (int i = 0; i < units; ++i)
    wide[i] = static_cast<wchar_t>(src[2 * i] | (src[2 * i + 1] << 8));
  const int n = WideCharToMultiByte(CP_ACP, flags, wide.data(), units, dst, dst_size, nullptr,
                                    nullptr);
  return n > 0 ? n : 0;
}

std::string ansi_to_utf8(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<std::size_t>(units > 0 ? units : 1));
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, wide.data(), units);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

int load_string(Module module, std::span<const StringEntry>, unsigned id, char* buf, int size) {
  if (!buf || size <= 0) return 0;
  buf[0] = '\0';
  return LoadStringA(static_cast<HMODULE>(module), id, buf, size);
}

// ---- Files --------------------------------------------------------------------------------------

namespace {
HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
constexpr std::intptr_t kNone = -1;  // INVALID_HANDLE_VALUE
DWORD share_mode(Share share) { return share == Share::Read ? FILE_SHARE_READ : 0; }
}  // namespace

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}
File::~File() { close(); }
bool File::is_open() const { return handle_ != kNone; }

std::size_t File::write(const void* data, std::size_t size) {
  if (!is_open()) return 0;
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!WriteFile(as_handle(handle_), static_cast<const char*>(data) + done, chunk, &n,
                   nullptr) ||
        n == 0)
      break;
    done += n;
  }
  return done;
}

std::size_t File::read(void* data, std::size_t size) {
  if (!is_open()) return 0;
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!ReadFile(as_handle(handle_), static_cast<char*>(data) + done, chunk, &n, nullptr) ||
        n == 0)
      break;
    done += n;
  }
  return done;
}

std::int64_t File::size() const {
  LARGE_INTEGER li;
  if (!is_open() || !GetFileSizeEx(as_handle(handle_), &li)) return -1;
  return li.QuadPart;
}

bool File::seek_end() {
  LARGE_INTEGER zero{};
  return is_open() && SetFilePointerEx(as_handle(handle_), zero, nullptr, FILE_END);
}

void File::close() {
  if (is_open()) CloseHandle(as_handle(handle_));
  handle_ = kNone;
}

File create_file(const char* path, Share share, bool hidden) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return File();
  }
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share_mode(share), nullptr,
                         CREATE_ALWAYS, hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  return File(reinterpret_cast<std::intptr_t>(h));
}

File open_file(const char* path, bool writable, Share share, bool create, bool hidden) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return File();
  }
  const DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
  HANDLE h = CreateFileA(path, access, share_mode(share), nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING,
                         hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL, nullptr);
  return File(reinterpret_cast<std::intptr_t>(h));
}

bool copy_file(const char* from, const char* to) {
  return from && to && CopyFileA(from, to, FALSE);
}

bool delete_file(const char* path) { return path && DeleteFileA(path); }

bool file_exists(const char* path) {
  return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

std::uint32_t last_error() { return GetLastError(); }

LocalTime local_time() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void message_box(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace plat
