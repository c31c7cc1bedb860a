// The file paths of modules and of the executable.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

namespace {

// A path that fills the whole buffer may have been cut (and Windows XP then leaves it without a
// terminator), so it counts as unknown.
Path module_file_name(HMODULE module) {
  Path path;
  char buf[kPathRoom];
  const DWORD n = GetModuleFileNameA(module, buf, sizeof buf);
  if (n > 0 && n < sizeof buf) path.append(std::string_view(buf, n));
  return path;
}

}  // namespace

Path module_path(Module module) {
  return module ? module_file_name(static_cast<HMODULE>(module)) : Path();
}

Path executable_path() { return module_file_name(nullptr); }

}  // namespace plat
