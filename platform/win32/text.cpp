// UCS-2 to the ANSI code page with WideCharToMultiByte.
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"

namespace plat {
namespace {

bool is_high_surrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The bytes that `count` wide characters take in the ANSI code page.
int needed(const wchar_t* wide, int count, unsigned flags) {
  return WideCharToMultiByte(CP_ACP, flags, wide, count, nullptr, 0, nullptr, nullptr);
}

// The most leading characters of `wide` whose conversion fits into `room` bytes (fewer than
// `count`, which do not fit), never ending between the two halves of a surrogate pair. The bytes a
// prefix takes grow with its length, so a binary search finds it.
int fitting_prefix(const wchar_t* wide, int count, int room, unsigned flags) {
  int low = 0, high = count - 1;  // `low` characters fit; more than `high` do not
  while (low < high) {
    const int middle = low + (high - low + 1) / 2;
    const int n = needed(wide, middle, flags);
    if (n > 0 && n <= room) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  if (low > 0 && is_high_surrogate(wide[low - 1])) --low;
  return low;
}

}  // namespace

// Converts a block at a time. A block whose conversion does not fit in what is left of `dst`
// gives its longest prefix that does, whole characters only, and ends the conversion: the caller
// gets what fits, as from the POSIX conversion.
int ucs2_to_ansi(const unsigned char* src, int units, char* dst, int dst_size, unsigned flags) {
  if (!src || !dst || units <= 0 || dst_size <= 0) return 0;
  // The units are copied into aligned wide characters a block at a time.
  constexpr int kBlock = 256;
  wchar_t wide[kBlock];
  int written = 0;
  for (int done = 0; done < units && written < dst_size;) {
    int count = std::min(units - done, kBlock);
    for (int i = 0; i < count; ++i) {
      const unsigned char* unit = src + 2 * (done + i);
      wide[i] = static_cast<wchar_t>(unit[0] | (unit[1] << 8));
    }
    // A block never ends between the halves of a surrogate pair when more units follow.
    if (count > 1 && done + count < units && is_high_surrogate(wide[count - 1])) --count;
    const int room = dst_size - written;
    const int whole = needed(wide, count, flags);
    if (whole <= 0) break;
    const bool fits = whole <= room;
    const int take = fits ? count : fitting_prefix(wide, count, room, flags);
    if (take == 0) break;
    const int n = WideCharToMultiByte(CP_ACP, flags, wide, take, dst + written, room, nullptr,
                                      nullptr);
    if (n <= 0) break;
    written += n;
    done += take;
    if (!fits) break;
  }
  return written;
}

}  // namespace plat
