// Opening a whole file for a bounded read: regular files only. An object of its own, so that
// only the programs that read whole files import GetFileType.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/handle.h"

namespace plat {

WholeFile open_whole_file(const char* path, std::size_t limit, Share share, File& file,
                          std::size_t& size) {
  file = File();
  size = 0;
  if (!path) return WholeFile::CannotOpen;
  // A folder cannot be opened as a file here: asked first, so that it is told apart.
  if (is_folder(path)) return WholeFile::Folder;
  HANDLE h = CreateFileA(path, GENERIC_READ, win32::share_mode(share), nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return WholeFile::CannotOpen;
  File opened(reinterpret_cast<std::intptr_t>(h));
  // A pipe, a console or a device such as NUL or COM1 is no file on a disk.
  if (GetFileType(h) != FILE_TYPE_DISK) return WholeFile::NotRegular;
  const std::int64_t bytes = opened.size();
  if (bytes < 0) return WholeFile::CannotRead;
  if (static_cast<std::uint64_t>(bytes) > limit) return WholeFile::TooLarge;
  size = static_cast<std::size_t>(bytes);
  file = static_cast<File&&>(opened);
  return WholeFile::Read;
}

}  // namespace plat
