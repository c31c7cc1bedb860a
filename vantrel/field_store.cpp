#include "vantrel/field_store.h"

#include <algorithm>
#include <cstring>

#include "driver/sdtapi.h"

namespace vantrel {

static_assert(rec::kFields[rec::kFieldCount - 1].end() == drv::kIdentityBytes,
              "the ten slots lie back to back, as the record's fields do");

namespace {

std::string_view text_of(const char* slot, std::size_t width) {
  return {slot, static_cast<std::size_t>(std::find(slot, slot + width, '\0') - slot)};
}

}  // namespace

void FieldStore::clear() {
  std::memset(text_, 0, sizeof text_);
  // Nothing reads the bitmap slot past the photo length, so a photo length of 0 clears the
  // bitmap as well as zeroing its 100 KB would; a full read fills the slot again at once.
  std::memset(appended_address_, 0, sizeof appended_address_);
  photo_length_ = 0;
}

bool FieldStore::set_base_data(const unsigned char* record, std::size_t count) {
  if (count < static_cast<std::size_t>(drv::kIdentityBytes)) return false;
  clear();
  for (const rec::Span& field : rec::kFields)
    rec::vantrel_slot({record, count}, field, text_ + field.offset);
  return true;
}

bool FieldStore::set_appended_address(const unsigned char* message, std::size_t count) {
  if (count < static_cast<std::size_t>(drv::kAppendedAddressBytes)) return false;
  rec::vantrel_slot({message, count}, rec::kAppendedAddress, appended_address_);
  return true;
}

std::string_view FieldStore::slot_text(rec::Field field) const {
  const rec::Span s = rec::span(field);
  return text_of(text_ + s.offset, static_cast<std::size_t>(s.bytes));
}

std::string_view FieldStore::appended_address() const {
  return text_of(appended_address_, sizeof appended_address_);
}

void FieldStore::set_photo_length(std::size_t length) {
  photo_length_ = static_cast<std::uint32_t>(std::min(length, kBitmapBytes));
}

}  // namespace vantrel
