// UCS-2 to the ANSI code page with WideCharToMultiByte.
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"

namespace plat {

int ucs2_to_ansi(const unsigned char* src, int units, char* dst, int dst_size, unsigned flags) {
  if (!src || !dst || units <= 0 || dst_size <= 0) return 0;
  // The units are copied into aligned wide characters a block at a time.
  constexpr int kBlock = 256;
  wchar_t wide[kBlock];
  int written = 0;
  for (int done = 0; done < units && written < dst_size;) {
    const int count = std::min(units - done, kBlock);
    for (int i = 0; i < count; ++i) {
      const unsigned char* unit = src + 2 * (done + i);
      wide[i] = static_cast<wchar_t>(unit[0] | (unit[1] << 8));
    }
    const int n = WideCharToMultiByte(CP_ACP, flags, wide, count, dst + written,
                                      dst_size - written, nullptr, nullptr);
    if (n <= 0) break;
    written += n;
    done += count;
  }
  return written;
}

}  // namespace plat
