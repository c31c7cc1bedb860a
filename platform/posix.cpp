// The platform layer on POSIX: dlopen, iconv to GBK, file descriptors with flock.
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <link.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace plat {
namespace {

// An iconv descriptor, opened at its first use and kept: opening one costs far more than a
// conversion. release_resources() closes it when the library is unloaded, so that none outlives
// the library that opened it. (One thread at a time uses a library.)
class Converter {
 public:
  constexpr Converter(const char* to, const char* from) : to_(to), from_(from) {}
  // The descriptor in its initial state; null when iconv has no such conversion.
  iconv_t get() {
    if (!cd_) {
      const iconv_t cd = iconv_open(to_, from_);
      if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
      cd_ = cd;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return cd_;
  }
  void close() {
    if (cd_) iconv_close(cd_);
    cd_ = nullptr;
  }

 private:
  const char* to_;
  const char* from_;
  iconv_t cd_ = nullptr;
};

constinit Converter g_ucs2_to_gbk("GBK", "UCS-2LE");
constinit Converter g_utf8_to_gbk("GBK", "UTF-8");

}  // namespace

Module load_library(const char* windows_name) {
  if (!windows_name) return nullptr;
  if (std::strchr(windows_name, '/')) return dlopen(windows_name, RTLD_NOW | RTLD_LOCAL);
  // The folder of the library that asks first, then the loader's default search (LD_LIBRARY_PATH,
  // the system's folders; an object of that name already loaded is taken as it is).
  const Path so = posix_library_name(windows_name);
  const Path own = module_path(own_module());
  Path beside(folder_of(own));
  beside.append(so);
  if (!own.empty() && !beside.cut())
    if (Module m = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return m;
  return dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void free_library(Module library) {
  if (library) dlclose(library);
}

void* entry_point(Module library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

Module find_loaded_module(const char* windows_name) {
  if (!windows_name) return nullptr;
  // RTLD_NOLOAD takes a reference when the object is loaded; give it back at once, the caller
  // only wants to know the module.
  const Path so =
      std::strchr(windows_name, '/') ? Path(windows_name) : posix_library_name(windows_name);
  Module m = dlopen(so.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (m) dlclose(m);
  return m;
}

Module own_module() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&own_module), &info) || !info.dli_fname) return nullptr;
  Module m = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (!m) m = dlopen(nullptr, RTLD_NOW);  // this code is part of the executable itself
  if (m) dlclose(m);
  return m;
}

Path module_path(Module module) {
  if (!module) return {};
  struct link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  if (map->l_name[0] == '\0') return executable_path();  // the main program has no name here
  char resolved[PATH_MAX];
  const Path path(realpath(map->l_name, resolved) ? resolved : map->l_name);
  return path.cut() ? Path() : path;
}

Path executable_path() {
  char buf[kPathRoom];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  // A link that fills the whole buffer may have been cut.
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
  return Path(std::string_view(buf, static_cast<std::size_t>(n)));
}

std::size_t find_last_in_path(std::string_view path, std::string_view chars) {
  return find_last_in_path(path, chars, [](unsigned char) { return false; });
}

Path library_file_name(const char* windows_name) { return posix_library_name(windows_name); }

void release_resources() {
  g_ucs2_to_gbk.close();
  g_utf8_to_gbk.close();
}

int ucs2_to_ansi(const unsigned char* src, int units, char* dst, int dst_size, unsigned) {
  if (!src || !dst || units <= 0 || dst_size <= 0) return 0;
  // Text of ASCII alone (dates, numbers, codes) needs no converter: GBK keeps it as it is.
  int ascii = 0;
  while (ascii < units && src[2 * ascii + 1] == 0 && src[2 * ascii] < 0x80) ++ascii;
  if (ascii == units) {
    const int n = std::min(units, dst_size);
    for (int i = 0; i < n; ++i) dst[i] = static_cast<char>(src[2 * i]);
    return n;
  }
  const iconv_t cd = g_ucs2_to_gbk.get();
  if (!cd) return 0;
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(src));
  std::size_t in_left = 2 * static_cast<std::size_t>(units);
  char* out = dst;
  std::size_t out_left = static_cast<std::size_t>(dst_size);
  // iconv stops before a unit it cannot convert, and before a character that does not fit whole.
  while (in_left >= 2 &&
         iconv(cd, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1)) {
    if (errno == E2BIG || out_left == 0) break;
    *out++ = '?';  // no character of the code page: the Windows default character
    --out_left;
    in += 2;
    in_left -= 2;
  }
  return static_cast<int>(out - dst);
}

int load_string(Module, std::span<const StringEntry> table, unsigned id, char* buf, int size) {
  if (!buf || size <= 0) return 0;
  buf[0] = '\0';
  for (const StringEntry& e : table) {
    if (e.id != id) continue;
    // ASCII text (file names) reads the same in GBK: no converter needed.
    const std::string_view utf8 = e.utf8;
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      const std::size_t n = std::min(utf8.size(), static_cast<std::size_t>(size - 1));
      std::memcpy(buf, utf8.data(), n);
      buf[n] = '\0';
      return static_cast<int>(n);
    }
    const iconv_t cd = g_utf8_to_gbk.get();
    if (!cd) return 0;
    char* in = const_cast<char*>(e.utf8);
    std::size_t in_left = std::strlen(e.utf8);
    char* out = buf;
    std::size_t out_left = static_cast<std::size_t>(size - 1);
    // A text longer than the buffer is cut, as LoadString cuts it.
    iconv(cd, &in, &in_left, &out, &out_left);
    *out = '\0';
    return static_cast<int>(out - buf);
  }
  return 0;
}

// ---- Files --------------------------------------------------------------------------------------

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}
File::~File() { close(); }
bool File::is_open() const { return handle_ >= 0; }

std::size_t File::write(const void* data, std::size_t size) {
  if (handle_ < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(static_cast<int>(handle_), static_cast<const char*>(data) + done,
                              size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t File::read(void* data, std::size_t size) {
  if (handle_ < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const std::size_t wanted = size - done;
    const ssize_t n = ::read(static_cast<int>(handle_), static_cast<char*>(data) + done, wanted);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
    // A regular file reads short only at its end: no further call needed to find that out.
    if (static_cast<std::size_t>(n) < wanted) break;
  }
  return done;
}

// The end's offset, the position kept. (Not fstat: glibc 2.33 gave it a new symbol version, which
// older C libraries cannot load.)
std::int64_t File::size() const {
  if (handle_ < 0) return -1;
  const int fd = static_cast<int>(handle_);
  const off_t here = lseek(fd, 0, SEEK_CUR);
  const off_t end = here < 0 ? -1 : lseek(fd, 0, SEEK_END);
  if (end < 0 || lseek(fd, here, SEEK_SET) != here) return -1;
  return end;
}

bool File::seek_end() {
  return handle_ >= 0 && lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0;
}

bool File::close() {
  const bool closed = handle_ < 0 || ::close(static_cast<int>(handle_)) == 0;
  handle_ = -1;
  return closed;
}

namespace {

// Takes the lock standing for the Windows share mode, as the libraries use it: a handle that
// writes forbids other writers (Share::Read lets others read, but a reader's own share mode does
// not let a writer in, so a writer excludes readers too), and readers share with readers. So a
// writer takes an exclusive lock and a reader a shared one, and either fails at once when another
// handle's lock is in the way. Share::All, the C library's sharing, takes none. Then empties the
// file when asked. Closes the descriptor on failure, keeping errno.
File locked(int fd, bool writes, Share share, bool truncate) {
  const int lock = writes || share == Share::None ? LOCK_EX : LOCK_SH;
  if ((share != Share::All && flock(fd, lock | LOCK_NB) != 0) ||
      (truncate && ftruncate(fd, 0) != 0)) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return File();
  }
  return File(fd);
}

File open_locked(const char* path, int flags, Share share, bool truncate) {
  if (!path) {
    errno = EINVAL;
    return File();
  }
  const int fd = ::open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0) return File();
  return locked(fd, (flags & O_ACCMODE) != O_RDONLY, share, truncate);
}

// Opens or makes a file for writing without following a link in its last component and without
// waiting on a pipe or device (O_NONBLOCK); -1 with errno on failure. Only a regular file is
// kept: locked() empties it with ftruncate, which fails for a pipe, a device or a socket (a
// folder already fails the open). (Neither lstat nor fstat: glibc 2.33 gave them new symbol
// versions, which older C libraries lack.)
int open_regular_for_writing(const char* path) {
  constexpr int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(path, flags, 0644);
  if (fd < 0 && errno == ELOOP) {
    // A symbolic link under that name (readlink fails for anything else): the link goes, its
    // target stays as it is, and a new file takes its place (O_EXCL: a link that reappears
    // meanwhile fails the creation).
    char first;
    if (::readlink(path, &first, 1) < 0 || ::unlink(path) != 0) return -1;
    fd = ::open(path, flags | O_EXCL, 0644);
  }
  return fd;
}

}  // namespace

File create_file(const char* path, Share share, bool) {
  if (!path) {
    errno = EINVAL;
    return File();
  }
  const int fd = open_regular_for_writing(path);
  return fd < 0 ? File() : locked(fd, true, share, /*truncate=*/true);
}

File open_file(const char* path, bool writable, Share share, bool create, bool) {
  const int flags = (writable ? O_RDWR : O_RDONLY) | (create ? O_CREAT : 0);
  return open_locked(path, flags, share, false);
}

bool copy_file(const char* from, const char* to) {
  File in = open_file(from, false, Share::Read);
  if (!in.is_open()) return false;
  File out = create_file(to, Share::Read);
  if (!out.is_open()) return false;
  char buf[8192];
  for (;;) {
    const std::size_t n = in.read(buf, sizeof buf);
    if (n == 0) return true;
    if (out.write(buf, n) != n) return false;
  }
}

bool append_to_file(const char* path, const void* data, std::size_t size) {
  if (!path) return false;
  // O_APPEND: each write lands at the end of the file as it is then, whoever else appends.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const ssize_t written = ::write(fd, data, size);
  const bool closed = ::close(fd) == 0;
  return closed && written >= 0 && static_cast<std::size_t>(written) == size;
}

bool delete_file(const char* path) { return path && ::unlink(path) == 0; }

// Not stat, for the same reason as File::size.
bool file_exists(const char* path) { return path && ::access(path, F_OK) == 0; }

// Opened as a folder, not examined with stat (see File::size).
bool is_folder(const char* path) {
  if (!path) return false;
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::uint32_t last_error() { return static_cast<std::uint32_t>(errno); }

LocalTime local_time() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
          static_cast<unsigned>(tm.tm_mday),        static_cast<unsigned>(tm.tm_hour),
          static_cast<unsigned>(tm.tm_min),         static_cast<unsigned>(tm.tm_sec)};
}

void message_box(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

}  // namespace plat
