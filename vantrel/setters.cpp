// The setters, which fill the field store from a saved record, a saved photo or an
// appended-address message, as a read would.
#include <cstddef>

#include "vantrel/error_log.h"
#include "vantrel/photo.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

int set_base_data(const char* path) {
  if (!path) return 0;
  plat::File file = plat::open_file(path, false, plat::Share::Read);
  if (!file.is_open()) {
    log_error(kMsgOpenFile, static_cast<int>(plat::last_error()), "");
    return 0;
  }
  unsigned char record[drv::kIdentityBytes + 1] = {};
  const std::size_t count = file.read(record, drv::kIdentityBytes);
  file.close();
  return reader.store.set_base_data(record, count) ? 1 : 0;
}

// The bitmap is read straight into the store's bitmap slot, at most as many bytes as it holds; a
// failed decoding reads nothing and leaves the store as it was.
int set_photo_data(const char* path) {
  if (!path) return 0;
  FieldStore& store = reader.store;
  const std::span<unsigned char> slot = store.bitmap_slot();
  std::size_t count = 0;
  const int result = decode_photo(path, slot.data(), slot.size(), &count, true);
  if (result != drv::kDecodeOk) return result;
  store.set_photo_length(count);
  return 1;
}

int set_appended_address(const unsigned char* data, int length) {
  if (!data || length < 0) return 0;
  return reader.store.set_appended_address(data, static_cast<std::size_t>(length)) ? 1 : 0;
}

}  // namespace
}  // namespace vantrel

extern "C" {

int WINAPI SetBaseData(const char* path) { return vantrel::set_base_data(path); }
int WINAPI SetPhotoData(const char* path) { return vantrel::set_photo_data(path); }
int WINAPI SetAppAddress(const unsigned char* data, int length) {
  return vantrel::set_appended_address(data, length);
}

}  // extern "C"
