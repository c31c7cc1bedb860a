// Platform helpers that need no operating-system call.
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

Path library_file_name(const char* windows_name) {
#if defined(_WIN32)
  return Path(windows_name ? windows_name : "");
#else
  return posix_library_name(windows_name);
#endif
}

std::string_view folder_of(std::string_view path) {
  const std::size_t cut = find_last_in_path(path, kFolderSeparators);
  return cut == std::string_view::npos ? std::string_view() : std::string_view(path.data(), cut + 1);
}

#if defined(_WIN32)
// Windows keeps nothing open between calls.
void release_resources() {}
#endif

}  // namespace plat
