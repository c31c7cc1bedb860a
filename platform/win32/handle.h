// What the Win32 file pieces share: the handle a File holds, and the share mode of a Share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

namespace plat::win32 {

inline HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline constexpr std::intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE
inline DWORD share_mode(Share share) {
  switch (share) {
    case Share::Read: return FILE_SHARE_READ;
    case Share::All: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;
  }
}

}  // namespace plat::win32
