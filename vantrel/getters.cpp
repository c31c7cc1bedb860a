// The getters, which copy one part of the field store into the caller's buffer.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/nation.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

// Sex names are read into 5 bytes, nation names into 9: room for the longest name and a zero.
constexpr int kSexNameRoom = VANTREL_SEX_NAME_BYTES + 1;
constexpr int kNationNameRoom = VANTREL_NATION_NAME_BYTES + 1;

// The header's largest values are the slots' widths.
constexpr bool slot_is(rec::Field field, int bytes) { return rec::span(field).bytes == bytes; }
static_assert(slot_is(rec::Field::Name, VANTREL_NAME_BYTES) &&
              slot_is(rec::Field::Birth, VANTREL_DATE_BYTES) &&
              slot_is(rec::Field::Address, VANTREL_ADDRESS_BYTES) &&
              slot_is(rec::Field::IdNumber, VANTREL_ID_CODE_BYTES) &&
              slot_is(rec::Field::Authority, VANTREL_DEPARTMENT_BYTES) &&
              slot_is(rec::Field::ValidFrom, VANTREL_DATE_BYTES) &&
              slot_is(rec::Field::ValidTo, VANTREL_DATE_BYTES) &&
              slot_is(rec::Field::Reserved, VANTREL_RESERVE_BYTES) &&
              rec::kAppendedAddress.bytes == VANTREL_APP_ADDRESS_BYTES &&
              FieldStore::kBitmapBytes == VANTREL_PHOTO_BMP_BYTES);
constexpr char kNoSexName[] = "\xCE\xDE";  // 无, for a sex code without a name
// GetAppAddress takes the indexes 1 to this.
constexpr unsigned kAppendedAddressIndexes = 4;

// The buffer contract: the first `size` bytes are zeroed, then at most `limit` bytes of the value
// are copied, without a terminator. Returns the count copied, or -1 for a buffer that cannot be
// written at all (null, or a size below 1), which is left untouched.
int copy_out(std::string_view value, char* buffer, int size, int limit) {
  if (!buffer || size <= 0) return -1;
  const int n = std::clamp(std::min(limit, size), 0, static_cast<int>(value.size()));
  // The value's bytes, then zero bytes for the rest: each byte is written once.
  if (n > 0) std::memcpy(buffer, value.data(), static_cast<std::size_t>(n));
  std::memset(buffer + n, 0, static_cast<std::size_t>(size - n));
  return n;
}

// The whole value's length when it fit, else 0; 0 as well when there was nothing to copy.
int whole_or_zero(std::string_view value, int copied) {
  return copied == static_cast<int>(value.size()) ? copied : 0;
}

int text_getter(rec::Field field, char* buffer, int size) {
  const std::string_view text = reader.store.slot_text(field);
  return whole_or_zero(text, copy_out(text, buffer, size, size));
}

int get_sex(char* buffer, int size) {
  const FieldStore& store = reader.store;
  if (store.slot_text(rec::Field::Name).empty()) return 0;  // no card: the buffer as it was
  // Two characters read as a number: -9 to 99, none of them beside another text's id.
  const int code = nation::leading_decimal(store.slot_text(rec::Field::Sex));
  char room[kSexNameRoom];
  std::string_view name = load_text(kSexNames + code, room);
  if (name.empty()) name = kNoSexName;
  const int n = copy_out(name, buffer, size, size);
  // A name cut to fit still counts, unless not even one double-byte character fit.
  return n < 2 ? 0 : n;
}

int get_nation(char* buffer, int size) {
  // Two characters read as a number: -9 to 99, none of them beside another text's id.
  const int code = nation::leading_decimal(reader.store.slot_text(rec::Field::Nation));
  char room[kNationNameRoom];
  const std::string_view name = load_text(kNationNames + code, room);
  return whole_or_zero(name, copy_out(name, buffer, size, size));
}

int get_photo(char* buffer, int size) {
  const std::span<const unsigned char> photo = reader.store.photo();
  const std::string_view bytes(reinterpret_cast<const char*>(photo.data()), photo.size());
  return whole_or_zero(bytes, copy_out(bytes, buffer, size, size));
}

// One byte of the buffer is held back, so a text exactly as long as the buffer does not fit.
// The store keeps a single appended address, which indexes 1 to 4 all give.
int get_appended_address(int index, char* buffer, int size) {
  const bool known_index = index != 0 && static_cast<unsigned>(index) <= kAppendedAddressIndexes;
  const std::string_view text =
      known_index ? reader.store.appended_address() : std::string_view();
  // (No limit to work out for a size below 1: such a buffer is not written at all.)
  return whole_or_zero(text, copy_out(text, buffer, size, size > 0 ? size - 1 : 0));
}

}  // namespace
}  // namespace vantrel

extern "C" {

int WINAPI GetPeopleName(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::Name, buffer, size);
}
int WINAPI GetPeopleSex(char* buffer, int size) { return vantrel::get_sex(buffer, size); }
int WINAPI GetPeopleNation(char* buffer, int size) { return vantrel::get_nation(buffer, size); }
int WINAPI GetPeopleBirthday(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::Birth, buffer, size);
}
int WINAPI GetPeopleAddress(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::Address, buffer, size);
}
int WINAPI GetPeopleIDCode(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::IdNumber, buffer, size);
}
int WINAPI GetDepartment(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::Authority, buffer, size);
}
int WINAPI GetStartDate(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::ValidFrom, buffer, size);
}
int WINAPI GetEndDate(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::ValidTo, buffer, size);
}
int WINAPI GetReserve(char* buffer, int size) {
  return vantrel::text_getter(rec::Field::Reserved, buffer, size);
}
int WINAPI GetPhotoBMP(char* buffer, int size) { return vantrel::get_photo(buffer, size); }
int WINAPI GetAppAddress(int index, char* buffer, int size) {
  return vantrel::get_appended_address(index, buffer, size);
}

}  // extern "C"
