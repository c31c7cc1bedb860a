// Why a library did not load, from the loader's last error code.
#include <windows.h>

#include "platform/host.h"

namespace plat {

LoadError last_load_error() {
  LoadError e;
  const DWORD code = GetLastError();
  e.text = "system error " + std::to_string(code);
  switch (code) {
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_INVALID_DLL:
      e.kind = LoadFailure::Damaged;
      break;
    case ERROR_MOD_NOT_FOUND:
    case ERROR_PROC_NOT_FOUND:
      e.kind = LoadFailure::NeedsLibraries;
      break;
    case ERROR_ACCESS_DENIED: e.kind = LoadFailure::Refused; break;
    default: break;
  }
  return e;
}

}  // namespace plat
