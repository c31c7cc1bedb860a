// The vantrel edition's conversion of an Identity record, or of an appended-address message, of
// any length and content: each field converted into a slot exactly as wide as the field, the
// codes read as leading decimal numbers, and the nation names fetched from its string list into
// buffers of any size.
#include <cstring>
#include <string>

#include "common/nation.h"
#include "tests/fuzz/record_input.h"

namespace {

// Fills a slot as wide as the span and returns its text: the converted bytes up to the first
// zero byte, which must be followed by zero bytes only.
std::string slot_text(rec::Bytes record, rec::Span span) {
  fuzz::Buffer slot(span.bytes);
  rec::vantrel_slot(record, span, slot.data());
  const char* end = static_cast<const char*>(std::memchr(slot.data(), 0, span.bytes));
  const std::size_t length = end ? static_cast<std::size_t>(end - slot.data()) : span.bytes;
  for (std::size_t i = length; i < static_cast<std::size_t>(span.bytes); ++i)
    FUZZ_CHECK(slot.data()[i] == 0, static_cast<long long>(i));
  return std::string(slot.data(), length);
}

// Fetches a nation name into a buffer of exactly `size` bytes.
void fetch_name(int code, int size) {
  fuzz::Buffer buffer(size);
  const int length =
      plat::load_string(nullptr, nation::vantrel_strings(), nation::kVantrelFirstId + code,
                        buffer.data(), size);
  if (size <= 0) {
    FUZZ_CHECK(length == 0, length);
    return;
  }
  FUZZ_CHECK(length >= 0 && length < size, length);
  FUZZ_CHECK(buffer.data()[length] == '\0', length);
  FUZZ_CHECK(std::strlen(buffer.data()) == static_cast<std::size_t>(length), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::RecordInput input(data, size);
  const rec::Bytes record = input.bytes();
  for (const rec::Span& span : rec::kFields) slot_text(record, span);
  slot_text(record, rec::kAppendedAddress);

  const int sex_code = nation::leading_decimal(slot_text(record, rec::span(rec::Field::Sex)));
  FUZZ_CHECK(sex_code >= -9 && sex_code <= 9, sex_code);
  const int code = nation::leading_decimal(slot_text(record, rec::span(rec::Field::Nation)));
  FUZZ_CHECK(code >= -999 && code <= 9999, code);
  // The edition reads names into 9 bytes; any size must be safe.
  const int room = size ? static_cast<int>(data[0]) - 8 : 9;
  fetch_name(code, 9);
  fetch_name(code, room);
  return 0;
}
