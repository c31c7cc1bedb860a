// Reading the card: the result files, the photo decoding step and Read_Content's modes.
#include <algorithm>

#include "include/vantrel.h"
#include "vantrel/error_log.h"
#include "vantrel/state.h"
#include "vantrel/result_files.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

// A result-file path has fewer characters than this.
constexpr std::size_t kPathRoom = 512;
constexpr char kBitmapExtension[] = ".bmp";

// Only a path that fits and lies in a known output folder names a result file.
bool usable(const ResultPath& path) {
  return !reader.output_folder.empty() && !path.cut() && path.size() < kPathRoom;
}

// Logs a file that cannot be made or opened, with the system's reason.
void log_file_failure(std::string_view path) {
  log_error(kMsgCreateFile, static_cast<int>(plat::last_error()), path);
}

// A path that is not usable is refused before anything is touched.
void log_refused(std::string_view path) { log_error(kMsgCreateFile, 0, path); }

// The output folder, the photo file's name without its folder and extension, and ".bmp".
ResultPath bitmap_path(std::string_view photo) {
  std::string_view stem = photo;
  const std::size_t slash = stem.find_last_of(plat::kPathSeparator);
  if (slash != std::string_view::npos) stem.remove_prefix(slash + 1);
  const std::size_t dot = stem.find_last_of('.');
  if (dot != std::string_view::npos) stem.remove_suffix(stem.size() - dot);
  return ResultPath(reader.output_folder).append(stem).append(kBitmapExtension);
}

}  // namespace

ResultPath result_path(unsigned name) {
  char file[kFileNameRoom];
  return ResultPath(reader.output_folder).append(load_text(name, file));
}

int write_file(const ResultPath& path, const void* bytes, std::size_t count) {
  if (!usable(path)) {
    log_refused(path);
    return 0;
  }
  plat::File file = plat::create_file(path.c_str(), plat::Share::Read);
  if (!file.is_open()) {
    log_file_failure(path);
    return 0;
  }
  file.write(bytes, count);
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
  if (port_open) call(r.entries.close_port, r.port);
  const int result = call(r.get_bmp, path.data(), selector);
  if (port_open) call(r.entries.open_port, r.port);
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

namespace {

// What ReadBaseMsg delivers, its lengths bounded by the buffers.
struct BaseMessage {
  unsigned char record[drv::kIdentityBytes + 1] = {};
  unsigned int record_count = 0;
  unsigned char photo[drv::kPhotoBytes + 1] = {};
  unsigned int photo_count = 0;
};

bool read_base_message(BaseMessage& m, const char* context) {
  Reader& r = reader;
  const int status = call(r.entries.read_base_msg, r.port, m.record, &m.record_count, m.photo,
                          &m.photo_count, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgReadBaseMsg, status, context);
    return false;
  }
  m.record_count = static_cast<unsigned>(bounded(m.record_count, sizeof m.record));
  m.photo_count = static_cast<unsigned>(bounded(m.photo_count, sizeof m.photo));
  return true;
}

bool write_base_message(const BaseMessage& m) {
  return write_file(result_path(kTextFile), m.record, m.record_count) &&
         write_file(result_path(kPhotoFile), m.photo, m.photo_count);
}

struct AppendedAddress {
  unsigned char message[drv::kAppendedAddressBytes] = {};
  unsigned int count = 0;
};

// Success also when the card has no appended address.
bool read_appended_address(AppendedAddress& a, const char* context) {
  Reader& r = reader;
  const int status = call(r.entries.read_new_app_msg, r.port, a.message, &a.count, r.flag);
  if (status != drv::kOk && status != drv::kNoAppendedAddress) {
    log_error(kMsgReadNewAppMsg, status, context);
    return false;
  }
  a.count = static_cast<unsigned>(bounded(a.count, sizeof a.message));
  return true;
}

// Mode 1: the raw files, the decoded photo and the field store.
int read_all() {
  FieldStore& store = reader.store;
  BaseMessage base;
  if (!read_base_message(base, "ReadContent1") || !write_base_message(base)) return 0;
  // ZP.wlt, the copy of XP.wlt that the decoder gets: the same bytes, written from the photo
  // record in memory instead of read back from the file just written.
  const ResultPath copy = result_path(kPhotoCopyFile);
  if (!write_file(copy, base.photo, base.photo_count)) return 0;
  AppendedAddress address;
  if (!read_appended_address(address, "ReadContent1")) return 0;
  const int decoded = decode_photo(copy, nullptr, 0, nullptr, false);
  if (decoded != drv::kDecodeOk) return decoded;
  // A short record or message leaves its part of the store as it was.
  store.set_base_data(base.record, base.record_count);
  store.set_appended_address(address.message, address.count);
  const std::span<unsigned char> slot = store.bitmap_slot();
  store.set_photo_length(read_file(bitmap_path(copy), slot.data(), slot.size()));
  return 1;
}

// Mode 2: the raw identity and photo records only.
int read_base() {
  BaseMessage base;
  return read_base_message(base, "ReadContent2") && write_base_message(base) ? 1 : 0;
}

// Mode 3: the raw appended-address message, also an empty one.
int read_address() {
  AppendedAddress address;
  if (!read_appended_address(address, "ReadContent3")) return 0;
  return write_file(result_path(kAppendedAddressFile), address.message, address.count);
}

// Mode 5: the management information.
int read_management_info() {
  Reader& r = reader;
  unsigned char info[drv::kManagementInfoBytes] = {};
  const int status = call(r.entries.read_mng_info, r.port, info, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgReadMngInfo, status, "ReadContent5");
    return 0;
  }
  return write_file(result_path(kManagementFile), info, sizeof info);
}

int read_content(int mode) {
  Reader& r = reader;
  if (r.port == kNoPort) return 0;
  int result = 0;
  switch (mode) {
    case 1: result = read_all(); break;
    case 2: result = read_base(); break;
    case 3: result = read_address(); break;
    case 5: result = read_management_info(); break;
    default: break;  // no such mode: nothing is read
  }
  // A failed read leaves no stale card behind.
  if (result == 0) r.store.clear();
  return result;
}

}  // namespace
}  // namespace vantrel

extern "C" RIDEL_EXPORT int WINAPI Read_Content(int mode) { return vantrel::read_content(mode); }
