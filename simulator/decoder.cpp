// The simulated photo decoder: GetBmp turns a photo file into a 24-bit bitmap of 102 x 126 pixels
// beside it. The picture is a head-and-shoulders silhouette whose colours and grain come from the
// photo's bytes, so that different photos give visibly different bitmaps, the same photo the same.
#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>

#include "driver/sdtapi.h"
#include "platform/platform.h"
#include "simulator/bitmap_path.h"
#include "simulator/state.h"

namespace {

constexpr int kWidth = 102;
constexpr int kHeight = 126;
constexpr int kRowBytes = (kWidth * 3 + 3) / 4 * 4;  // rows are padded to 4 bytes: 308
constexpr int kHeaderBytes = 14 + 40;                // BITMAPFILEHEADER + BITMAPINFOHEADER
constexpr int kImageBytes = kRowBytes * kHeight;
constexpr int kFileBytes = kHeaderBytes + kImageBytes;  // 38862
constexpr int kPixelsPerMetre = 3780;                   // 96 dots per inch
// The decoder reads no more of a photo file than this.
constexpr std::size_t kMaxPhotoBytes = 64 * 1024;

bool read_photo(const char* path, sim::Bytes& out) {
  plat::File file = plat::open_file(path, false, plat::Share::Read);
  if (!file.is_open()) return false;
  out.resize(kMaxPhotoBytes);
  out.resize(file.read(out.data(), out.size()));
  return true;
}

void put16(sim::Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v & 0xFF);
  b[at + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void put32(sim::Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

bool inside_ellipse(int x, int y, int cx, int cy, int rx, int ry) {
  const long dx = x - cx, dy = y - cy;
  return dx * dx * ry * ry + dy * dy * rx * rx <= static_cast<long>(rx) * rx * ry * ry;
}

sim::Bytes render_bitmap(const sim::Bytes& photo) {
  std::uint32_t h = 2166136261u;  // FNV-1a over the photo
  for (unsigned char c : photo) h = (h ^ c) * 16777619u;
  const int background[3] = {160 + static_cast<int>(h & 0x3F), 160 + static_cast<int>((h >> 6) & 0x3F),
                             160 + static_cast<int>((h >> 12) & 0x3F)};
  const int figure[3] = {40 + static_cast<int>((h >> 18) & 0x3F),
                         40 + static_cast<int>((h >> 24) & 0x3F),
                         60 + static_cast<int>((h >> 3) & 0x3F)};

  sim::Bytes bmp(kFileBytes, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(bmp, 2, kFileBytes);
  put32(bmp, 10, kHeaderBytes);
  put32(bmp, 14, 40);
  put32(bmp, 18, kWidth);
  put32(bmp, 22, kHeight);  // positive: rows run bottom-up
  put16(bmp, 26, 1);        // planes
  put16(bmp, 28, 24);       // bits per pixel
  put32(bmp, 30, 0);        // no compression
  put32(bmp, 34, kImageBytes);
  put32(bmp, 38, kPixelsPerMetre);
  put32(bmp, 42, kPixelsPerMetre);

  for (int y = 0; y < kHeight; ++y) {  // y counts from the top of the picture
    const std::size_t row = kHeaderBytes + static_cast<std::size_t>(kHeight - 1 - y) * kRowBytes;
    for (int x = 0; x < kWidth; ++x) {
      const bool person = inside_ellipse(x, y, 51, 50, 22, 28) ||
                          inside_ellipse(x, y, 51, kHeight + 10, 46, 44);
      const int* base = person ? figure : background;
      const std::size_t i = static_cast<std::size_t>(y * kWidth + x);
      const int grain = photo.empty() ? 0 : photo[i % photo.size()] % 24 - 12;
      for (int c = 0; c < 3; ++c) {  // stored blue, green, red
        bmp[row + static_cast<std::size_t>(3 * x + c)] =
            static_cast<unsigned char>(std::clamp(base[2 - c] + grain, 0, 255));
      }
    }
  }
  return bmp;
}

int decode(const char* path) {
  sim::Bytes photo;
  if (!path || !read_photo(path, photo)) return SIM_DECODE_UNREADABLE;
  const sim::Bytes bmp = render_bitmap(photo);
  const std::string out = sim::bitmap_path(path);
  plat::File file = plat::create_file(out.c_str(), plat::Share::Read);
  if (!file.is_open()) return SIM_DECODE_WRITE_FAILED;
  if (file.write(bmp.data(), bmp.size()) != bmp.size()) {
    file.close();
    plat::delete_file(out.c_str());  // leave no half-written bitmap behind
    return SIM_DECODE_WRITE_FAILED;
  }
  return drv::kDecodeOk;
}

}  // namespace

// GetBmp: the faults hang and crash strike first. Then, playing a recording back, the recorded
// result, with the bitmap written when it is 1. Else a scripted status (scripted on port 0 or any
// port) or a decoder result other than 1 is returned with nothing written; otherwise the bitmap is
// written beside the photo file.
extern "C" SIM_EXPORT int WINAPI GetBmp(char* path, int selector) {
  sim::strike(SIM_GET_BMP);
  int result;
  try {
    sim::State& s = sim::state();
    if (s.reader.replay) {
      const std::vector<recording::Arg> args = 
          recording::arguments(recording::kArgumentNames[SIM_GET_BMP], path, selector);
      result = sim::replay_call(SIM_LIB_WLTRS, SIM_PREFIX_NONE, SIM_GET_BMP, args).value_or(0);
      if (result == drv::kDecodeOk) result = decode(path);
    } else if (std::optional<int> scripted = s.reader.script.take(SIM_GET_BMP, 0)) {
      result = *scripted;
    } else if (s.reader.decoder_result != drv::kDecodeOk) {
      result = s.reader.decoder_result;
    } else {
      result = decode(path);
    }
  } catch (...) {
    result = SIM_DECODE_WRITE_FAILED;
  }
  sim::journal_call(SIM_LIB_WLTRS, SIM_PREFIX_NONE, SIM_GET_BMP, 0, selector, result, path);
  return result;
}
static_assert(std::is_same_v<decltype(&GetBmp), drv::GetBmpFn>);
