// The only interface to the operating system. win32/ implements it with Win32 (one file per group
// of functions), posix.cpp with POSIX; nothing else includes <windows.h> or <dlfcn.h>. Nothing here allocates: texts come back
// in fixed-size buffers (fixed_text.h). Programs that use the libraries find owned-string
// conveniences in host.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/fixed_text.h"

namespace plat {

// ---- Libraries and modules ------------------------------------------------------------------

using Module = void*;  // a loaded library or module; nullptr when there is none

// Loads a library by its Windows file name ("sdtapi.dll"). On POSIX the name maps to a shared
// object by posix_library_name() and is searched first in the folder of the module that contains
// this code (the edition itself), then by the loader's default search. A path with a folder is
// loaded as it stands. Returns nullptr when it cannot be loaded.
Module load_library(const char* windows_name);
// Releases a library that load_library() returned; nullptr is ignored.
void free_library(Module library);
// The address of an exported entry point, nullptr when the library or the name is missing.
void* entry_point(Module library, const char* name);
// The already loaded module of that Windows file name (or of that path), without loading it;
// nullptr when none.
Module find_loaded_module(const char* windows_name);
// The module that contains this code (the library itself).
Module own_module();

// Room for every path the libraries handle, its terminating zero included: a folder and a file
// name of either system fit.
inline constexpr std::size_t kPathRoom = 4096;
using Path = FixedText<kPathRoom>;

// Full path of a module's file; empty when unknown or longer than a Path holds.
Path module_path(Module module);
// Full path of the process's executable file; empty when unknown or longer than a Path holds.
Path executable_path();
// The POSIX shared-object name for a Windows library name: lower-cased stem, "lib" prefix,
// ".so" ("WltRS.dll" -> "libwltrs.so"). Pure; used by load_library on POSIX.
Path posix_library_name(const char* windows_name);
// The file name of a library of that Windows name on this platform: the name itself on Windows,
// posix_library_name() on POSIX.
Path library_file_name(const char* windows_name);

// The folder separator of paths on this platform.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The position of the last byte of `path` that is one of the ASCII characters `chars`, npos when
// there is none. `is_lead_byte` tells which bytes begin a double-byte character: the byte after
// such a byte belongs to it and is never taken for one of `chars` (in GBK that second byte can be
// 0x5C, the code of '\'). The path is walked from its start, since only there is it known
// where a character begins.
template <class IsLeadByte>
constexpr std::size_t find_last_in_path(std::string_view path, std::string_view chars,
                                        IsLeadByte is_lead_byte) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (is_lead_byte(static_cast<unsigned char>(path[i])))
      ++i;  // the whole double-byte character
    else if (chars.find(path[i]) != std::string_view::npos)
      found = i;
  }
  return found;
}

// The same for a path of this platform. Windows: the path is ANSI text, walked by characters of
// the system's ANSI code page. POSIX: paths are UTF-8, whose multi-byte characters hold no ASCII
// byte, so every byte is read as it stands.
std::size_t find_last_in_path(std::string_view path, std::string_view chars);

// The separators of a path's folders: '\' and a drive's ':' on Windows, '/' elsewhere.
#if defined(_WIN32)
inline constexpr std::string_view kFolderSeparators = "\\:";
#else
inline constexpr std::string_view kFolderSeparators = "/";
#endif

// The folder part of a path up to and including its last separator (kFolderSeparators); empty
// when it has none. A view into `path`.
std::string_view folder_of(std::string_view path);

// The folder of the process's executable as a library keeps it, in a buffer of `Room` bytes:
// empty when the executable's path is unknown or has no folder, and when the folder does not fit
// (cut short, it would name a wrong, shorter folder).
template <std::size_t Room>
FixedText<Room> executable_folder_in() {
  const Path executable = executable_path();
  const FixedText<Room> folder(folder_of(executable));
  return folder.cut() ? FixedText<Room>() : folder;
}

// ---- Text ---------------------------------------------------------------------------------------

// Converts `units` UCS-2 little-endian code units at `src` (any alignment) to the ANSI code page
// (Windows: CP_ACP; POSIX: always GBK, code page 936) into dst, writing at most dst_size bytes.
// A code unit that the code page cannot hold becomes '?'. `flags` are the Win32 conversion flags
// (ignored on POSIX). Returns the number of bytes written; NUL units convert to zero bytes.
int ucs2_to_ansi(const unsigned char* src, int units, char* dst, int dst_size, unsigned flags);

inline constexpr unsigned kWcCompositeCheck = 0x200;
inline constexpr unsigned kWcDefaultChar = 0x40;

// One text of a library's string table, as UTF-8 in the source list.
struct StringEntry {
  unsigned id;
  const char* utf8;
};

// Loads string `id` of the string table as ANSI text into buf (at most size - 1 bytes, always
// zero-terminated when size > 0). Windows: the STRINGTABLE resource of `module`; POSIX: the same
// list compiled into the library, given as `table`. Returns the length, 0 when there is no such
// string.
int load_string(Module module, std::span<const StringEntry> table, unsigned id, char* buf,
                int size);

// Releases what the platform layer keeps open for the library it is part of (POSIX: its text
// converters); the load notifications call it when the library is unloaded.
void release_resources();

// ---- Files --------------------------------------------------------------------------------------

// What other handles may do with a file while this one has it open. Share::All is the sharing of
// the C library's files (Windows: read and write sharing; POSIX: no lock at all).
enum class Share { None, Read, All };

// A file handle that closes itself.
class File {
 public:
  File() = default;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool is_open() const;
  // Writes the bytes and returns how many were written.
  std::size_t write(const void* data, std::size_t size);
  // Reads up to size bytes and returns how many were read.
  std::size_t read(void* data, std::size_t size);
  // Size of the file in bytes, -1 when unknown.
  std::int64_t size() const;
  // Moves to the end of the file; false on failure.
  bool seek_end();
  // Closes the file; false when the system reports that the close failed (data that did not
  // reach the file). Closing a file that is not open succeeds.
  bool close();

 private:
  std::intptr_t handle_ = -1;
};

// Creates a regular file, replacing an existing one, for reading and writing. With Share::None no
// other handle may open it while this one is open (Windows: share mode 0; POSIX: an exclusive
// flock), and creation fails when another handle holds it. `hidden` sets the hidden attribute
// (Windows). Nothing is written through a link: a symbolic link under that name is removed and a
// regular file made in its place, its target untouched (POSIX; Windows where the link shows as a
// reparse point), and a link that cannot be told apart safely (a dangling one under Wine) fails
// the creation. A folder, a pipe or a device under that name fails it at once, without waiting.
File create_file(const char* path, Share share, bool hidden = false);
// Creates or replaces the regular file `path` (as create_file) with exactly these bytes: true
// when all of them reached the file and it was closed without error. Otherwise the file, when it
// was created, is removed again, so that no empty or partial file stays in its place, and
// `error` (when given) receives the system's error code of the step that failed.
bool write_whole_file(const char* path, const void* data, std::size_t size, Share share,
                      std::uint32_t* error = nullptr);
// What a bounded read of a whole file found.
enum class WholeFile {
  Read,        // the file's bytes are in the buffer
  CannotOpen,  // missing, not accessible, held by another handle, or no path
  Folder,      // the path names a folder
  NotRegular,  // a pipe, a device or a socket: never read, never waited on
  TooLarge,    // more bytes than the limit
  CannotRead,  // its size unknown, or the read failed or came short
};
// Opens `path` for reading (sharing as `share`) when it names a regular file (a link to one
// included) of at most `limit` bytes, without waiting on a pipe or a device; `size` receives its
// size. Anything but WholeFile::Read leaves `file` closed. Programs only: it is an object of its
// own, which the libraries never link.
WholeFile open_whole_file(const char* path, std::size_t limit, Share share, File& file,
                          std::size_t& size);
// Reads the whole regular file `path` into `out` (a std::string or a vector of bytes: anything
// with resize, clear and data) when it holds at most `limit` bytes. `out` is empty unless the
// result is WholeFile::Read. Nothing here allocates but `out`.
template <class Buffer>
WholeFile read_whole_file(const char* path, std::size_t limit, Buffer& out,
                          Share share = Share::Read) {
  out.clear();
  File file;
  std::size_t size = 0;
  const WholeFile opened = open_whole_file(path, limit, share, file, size);
  if (opened != WholeFile::Read) return opened;
  out.resize(size);
  if (file.read(out.data(), size) != size) {
    out.clear();
    return WholeFile::CannotRead;
  }
  return WholeFile::Read;
}
// Opens a file. `create` makes it when missing (then `hidden` applies to the new file), else it
// must exist. Always for reading; `writable` adds writing.
File open_file(const char* path, bool writable, Share share, bool create = false,
               bool hidden = false);
bool copy_file(const char* from, const char* to);  // replaces `to`
// Appends the bytes to the file, creating it when missing (POSIX: readable by its owner only), in
// one write that lands whole at the file's end even while other processes append to it too.
// Whether all of them were written.
bool append_to_file(const char* path, const void* data, std::size_t size);
bool delete_file(const char* path);
bool file_exists(const char* path);
// Whether `path` names a folder (a link to one included).
bool is_folder(const char* path);

// The operating system's last error code (GetLastError / errno).
std::uint32_t last_error();

// ---- Processes ----------------------------------------------------------------------------------

// Blocks the calling thread for at least `milliseconds`.
void sleep_ms(unsigned milliseconds);
// Blocks the calling thread until the process ends.
[[noreturn]] void block_forever();
// Ends the process at once and abnormally, as a crash ends it, without running exit handlers and
// without a dialog box or a core file (memory may hold card data). Windows: exit code
// kCrashExitCode; POSIX: the signal SIGABRT.
[[noreturn]] void crash_process();
// The exit code of a process that crash_process() ended on Windows: an error status, as a
// process ended by an unhandled exception has.
inline constexpr std::uint32_t kCrashExitCode = 0xC0000409;

// ---- Time and user ------------------------------------------------------------------------------

struct LocalTime {
  unsigned year, month, day, hour, minute, second;
};
LocalTime local_time();

// Shows a modal message box with one OK button and no owner (POSIX: one line on standard error).
void message_box(const char* text, const char* caption);

}  // namespace plat
