// Paths as ANSI text: walked by characters of the system's ANSI code page.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

std::size_t find_last_in_path(std::string_view path, std::string_view chars) {
  return find_last_in_path(path, chars,
                           [](unsigned char byte) { return IsDBCSLeadByte(byte) != 0; });
}

}  // namespace plat
