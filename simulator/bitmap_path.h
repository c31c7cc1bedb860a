// The name of the bitmap the decoder writes for a photo file: the photo's path with the extension
// of its file-name part (from its last ".") replaced by ".bmp", or ".bmp" appended when the file
// name has no ".". The path is walked by characters, as the editions walk theirs.
#pragma once

#include <string>

#include "platform/platform.h"

namespace sim {

inline std::string bitmap_path(const std::string& photo) {
#if defined(_WIN32)
  const std::size_t name = plat::find_last_in_path(photo, "\\/:");
#else
  const std::size_t name = plat::find_last_in_path(photo, "/");
#endif
  const std::size_t from = name == std::string::npos ? 0 : name + 1;
  const std::size_t dot = plat::find_last_in_path(photo, ".");
  const std::size_t stem_end = dot != std::string::npos && dot >= from ? dot : photo.size();
  return photo.substr(0, stem_end) + ".bmp";
}

}  // namespace sim
