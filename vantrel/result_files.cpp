// The result files in the output folder, and the photo decoding step that makes the bitmap.
#include "vantrel/result_files.h"

#include "vantrel/error_log.h"

namespace vantrel {
namespace {

// A result-file path has fewer characters than this.
constexpr std::size_t kResultPathLimit = 512;
constexpr char kBitmapExtension[] = ".bmp";

// Only a path that fits and lies in a known output folder names a result file.
bool usable(const ResultPath& path) {
  return !reader.output_folder.empty() && !path.cut() && path.size() < kResultPathLimit;
}

// Logs a file that cannot be made or opened, with the system's reason.
void log_file_failure(std::string_view path) {
  log_error(kMsgCreateFile, static_cast<int>(plat::last_error()), path);
}

// A path that is not usable is refused before anything is touched.
void log_refused(std::string_view path) { log_error(kMsgCreateFile, 0, path); }

}  // namespace

ResultPath bitmap_path(std::string_view photo) {
  std::string_view stem = photo;
  const std::size_t slash = plat::find_last_in_path(stem, {&plat::kPathSeparator, 1});
  if (slash != std::string_view::npos) stem.remove_prefix(slash + 1);
  const std::size_t dot = plat::find_last_in_path(stem, ".");
  if (dot != std::string_view::npos) stem.remove_suffix(stem.size() - dot);
  return ResultPath(reader.output_folder).append(stem).append(kBitmapExtension);
}

ResultPath result_path(unsigned name) {
  char file[kFileNameRoom];
  return ResultPath(reader.output_folder).append(load_text(name, file));
}

int write_file(const ResultPath& path, const void* bytes, std::size_t count) {
  if (!usable(path)) {
    log_refused(path);
    return 0;
  }
  // Written whole or not at all: a file that cannot be made or completed (a full disk) is
  // logged with the system's reason, and no partial file stays.
  std::uint32_t error = 0;
  if (!plat::write_whole_file(path.c_str(), bytes, count, plat::Share::Read, &error)) {
    log_error(kMsgCreateFile, static_cast<int>(error), path);
    return 0;
  }
  return 1;
}

std::size_t read_file(const ResultPath& path, void* buffer, std::size_t size) {
  if (!usable(path)) {
    log_refused(path);
    return 0;
  }
  plat::File file = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!file.is_open()) {
    log_file_failure(path);
    return 0;
  }
  return file.read(buffer, size);
}

int decode_photo(std::string_view photo, unsigned char* buffer, std::size_t size,
                 std::size_t* count, bool delete_bitmap) {
  Reader& r = reader;
  // The decoder gets a copy that it may write into; the caller's text stays as it is.
  plat::Path path(photo);
  if (path.cut()) {
    log_refused(photo);
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
  *count = read_file(bitmap, buffer, size);
  if (delete_bitmap && usable(bitmap)) plat::delete_file(bitmap.c_str());
  return 1;
}

}  // namespace vantrel
