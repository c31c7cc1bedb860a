// Platform helpers that need no operating-system call and are the same on every system; what
// differs per system is in posix*.cpp and win32/, each file chosen whole by CMake.
#include "platform/platform.h"

namespace plat {

Path posix_library_name(const char* windows_name) {
  std::string_view stem = windows_name ? windows_name : "";
  const std::size_t slash = stem.find_last_of("/\\");
  if (slash != std::string_view::npos) stem.remove_prefix(slash + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string_view::npos) stem.remove_suffix(stem.size() - dot);
  Path name("lib");
  for (const char c : stem)
    name.append(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  name.append(".so");
  return name;
}

std::string_view folder_of(std::string_view path) {
  const std::size_t cut = find_last_in_path(path, kFolderSeparators);
  return cut == std::string_view::npos ? std::string_view() : std::string_view(path.data(), cut + 1);
}

}  // namespace plat
