// ANSI text of the system's code page to UTF-8, for the programs around the libraries: through
// UTF-16 with MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <vector>

#include "platform/host.h"

namespace plat {

unsigned ansi_code_page() { return GetACP(); }

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

}  // namespace plat
