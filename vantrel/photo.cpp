// The photo decoding step that makes the bitmap of a photo file.
#include "vantrel/photo.h"

#include "vantrel/error_log.h"

namespace vantrel {
namespace {

constexpr char kBitmapExtension[] = ".bmp";

}  // namespace

ResultPath bitmap_path(std::string_view photo) {
  std::string_view stem = photo;
  const std::size_t slash = plat::find_last_in_path(stem, {&plat::kPathSeparator, 1});
  if (slash != std::string_view::npos) stem.remove_prefix(slash + 1);
  const std::size_t dot = plat::find_last_in_path(stem, ".");
  if (dot != std::string_view::npos) stem.remove_suffix(stem.size() - dot);
  return result_path(stem, kBitmapExtension);
}

int decode_photo(std::string_view photo, unsigned char* buffer, std::size_t size,
                 std::size_t* count, bool delete_bitmap) {
  Reader& r = reader;
  // The decoder gets a copy that it may write into; the caller's text stays as it is.
  plat::Path path(photo);
  if (path.cut()) {
    log_refused_path(photo);
    return 0;
  }
  const int selector = drv::decoder_selector(r.port);
  // The decoder uses the reader itself, so the port is closed around the call.
  const bool port_open = r.port != kNoPort;
  if (port_open) call(r.entries.ClosePort, r.port);
  const int result = call(r.entries.GetBmp, path.data(), selector);
  if (port_open) call(r.entries.OpenPort, r.port);
  if (result != drv::kDecodeOk) {
    log_error(kMsgGetBmp, result, "");
    return result;
  }
  if (!buffer) return 1;
  const ResultPath bitmap = bitmap_path(photo);
  *count = read_result_file(bitmap, buffer, size);
  if (delete_bitmap) delete_result_file(bitmap);
  return 1;
}

}  // namespace vantrel
