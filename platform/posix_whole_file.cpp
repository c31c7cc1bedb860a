// Opening a whole file for a bounded read: regular files only. An object of its own: fstat is
// only for the programs, whose C runtime supplies it on old C libraries (cmake/glibc-floor).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace plat {

WholeFile open_whole_file(const char* path, std::size_t limit, Share share, File& file,
                          std::size_t& size) {
  file = File();
  size = 0;
  if (!path) return WholeFile::CannotOpen;
  // O_NONBLOCK: a pipe without a writer would block the open; it is refused below instead.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return WholeFile::CannotOpen;
  File opened(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return WholeFile::CannotRead;
  if (S_ISDIR(st.st_mode)) return WholeFile::Folder;
  if (!S_ISREG(st.st_mode)) return WholeFile::NotRegular;
  // The lock stands for the Windows share mode, as open_file takes it for a reader.
  if (share != Share::All && ::flock(fd, (share == Share::None ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    return WholeFile::CannotOpen;
  if (st.st_size < 0) return WholeFile::CannotRead;
  if (static_cast<std::uint64_t>(st.st_size) > limit) return WholeFile::TooLarge;
  // Reads of a regular file never block; the flag goes all the same.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return WholeFile::CannotRead;
  size = static_cast<std::size_t>(st.st_size);
  file = static_cast<File&&>(opened);
  return WholeFile::Read;
}

}  // namespace plat
