// Reading the card: Read_Content's modes.
#include "vantrel/error_log.h"
#include "vantrel/photo.h"
#include "vantrel/result_files.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
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
  const int status = call(r.entries.ReadBaseMsg, r.port, m.record, &m.record_count, m.photo,
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
  return write_result_file(result_path(kTextFile), m.record, m.record_count) &&
         write_result_file(result_path(kPhotoFile), m.photo, m.photo_count);
}

struct AppendedAddress {
  unsigned char message[drv::kAppendedAddressBytes] = {};
  unsigned int count = 0;
};

// Success also when the card has no appended address.
bool read_appended_address(AppendedAddress& a, const char* context) {
  Reader& r = reader;
  const int status = call(r.entries.ReadNewAppMsg, r.port, a.message, &a.count, r.flag);
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
  if (!write_result_file(copy, base.photo, base.photo_count)) return 0;
  AppendedAddress address;
  if (!read_appended_address(address, "ReadContent1")) return 0;
  const int decoded = decode_photo(copy, nullptr, 0, nullptr, false);
  if (decoded != drv::kDecodeOk) return decoded;
  // A short record or message leaves its part of the store as it was.
  store.set_base_data(base.record, base.record_count);
  store.set_appended_address(address.message, address.count);
  const std::span<unsigned char> slot = store.bitmap_slot();
  store.set_photo_length(read_result_file(bitmap_path(copy), slot.data(), slot.size()));
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
  return write_result_file(result_path(kAppendedAddressFile), address.message, address.count);
}

// Mode 5: the management information.
int read_management_info() {
  Reader& r = reader;
  unsigned char info[drv::kManagementInfoBytes] = {};
  const int status = call(r.entries.ReadMngInfo, r.port, info, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgReadMngInfo, status, "ReadContent5");
    return 0;
  }
  return write_result_file(result_path(kManagementFile), info, sizeof info);
}

int read_content(int mode) {
  Reader& r = reader;
  if (r.port == kNoPort) return 0;
  int result = 0;
  switch (mode) {
    case VANTREL_CONTENT_ALL: result = read_all(); break;
    case VANTREL_CONTENT_RAW: result = read_base(); break;
    case VANTREL_CONTENT_APPENDED_ADDRESS: result = read_address(); break;
    case VANTREL_CONTENT_MANAGEMENT_INFO: result = read_management_info(); break;
    default: break;  // no such mode: nothing is read
  }
  // A failed read leaves no stale card behind.
  if (result == 0) r.store.clear();
  return result;
}

}  // namespace
}  // namespace vantrel

extern "C" {

int WINAPI Read_Content(int mode) { return vantrel::read_content(mode); }

}  // extern "C"
