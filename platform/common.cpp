// Platform helpers that need no operating-system call.
#include <cctype>

#include "platform/platform.h"

namespace plat {

std::string posix_library_name(const char* windows_name) {
  std::string stem = windows_name ? windows_name : "";
  const std::size_t slash = stem.find_last_of("/\\");
  if (slash != std::string::npos) stem.erase(0, slash + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.erase(dot);
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "lib" + stem + ".so";
}

std::string folder_of(const std::string& path) {
#if defined(_WIN32)
  const std::size_t cut = path.find_last_of("\\:");
#else
  const std::size_t cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace plat
