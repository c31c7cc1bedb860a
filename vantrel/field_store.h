// The field store: the last card's fields as ANSI text in fixed-width slots, its decoded bitmap
// and its first appended address, which the getters hand out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/record.h"

namespace vantrel {

class FieldStore {
 public:
  static constexpr std::size_t kBitmapBytes = 102400;

  // Every slot, the bitmap and the appended address to zero bytes; photo length 0.
  void clear();
  // With at least a whole Identity record: clears the store and converts the ten fields into
  // their slots. With fewer bytes: false, the store unchanged.
  bool set_base_data(const unsigned char* record, std::size_t count);
  // With at least a whole appended-address message: converts its first 35 characters into the
  // appended-address slot. With fewer bytes: false, the slot unchanged.
  bool set_appended_address(const unsigned char* message, std::size_t count);

  // A slot's bytes up to its first zero byte, at most the slot's width.
  std::string_view slot_text(rec::Field field) const;
  std::string_view appended_address() const;
  // The valid bytes of the bitmap slot.
  std::span<const unsigned char> photo() const { return {bitmap_, photo_length_}; }

  // Lets the bitmap slot be filled in place (a file read, at most the slot's size); the photo is
  // then its first `length` bytes.
  std::span<unsigned char> bitmap_slot() { return bitmap_; }
  void set_photo_length(std::size_t length);

 private:
  char text_[drv::kIdentityBytes] = {};  // the ten slots, each at its field's record offset
  unsigned char bitmap_[kBitmapBytes] = {};
  char appended_address_[rec::kAppendedAddress.bytes] = {};
  std::uint32_t photo_length_ = 0;
};

}  // namespace vantrel
