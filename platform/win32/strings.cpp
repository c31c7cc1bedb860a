// Texts of a module's STRINGTABLE resource.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

int load_string(Module module, std::span<const StringEntry>, unsigned id, char* buf, int size) {
  if (!buf || size <= 0) return 0;
  buf[0] = '\0';
  return LoadStringA(static_cast<HMODULE>(module), id, buf, size);
}

}  // namespace plat
