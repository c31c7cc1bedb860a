// Modules that are already loaded: by name, and the one holding this code.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

Module find_loaded_module(const char* windows_name) {
  return windows_name ? reinterpret_cast<Module>(GetModuleHandleA(windows_name)) : nullptr;
}

Module own_module() {
  HMODULE m = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&own_module), &m);
  return m;
}

}  // namespace plat
