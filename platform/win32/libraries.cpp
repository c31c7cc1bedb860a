// Loading and freeing libraries, looking up entry points.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

Module load_library(const char* windows_name) {
  return windows_name ? reinterpret_cast<Module>(LoadLibraryA(windows_name)) : nullptr;
}

void free_library(Module library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

void* entry_point(Module library, const char* name) {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace plat
