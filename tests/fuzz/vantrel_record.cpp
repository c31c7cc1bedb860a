// The vantrel edition's conversion of an Identity record, or of an appended-address message, of
// any length and content: each field converted into a slot exactly as wide as the field, and the
// codes read as leading decimal numbers. The nation code's name then comes from the edition
// itself, as it ships: the record saved and handed to SetBaseData, the name fetched with
// GetPeopleNation into buffers of the size it needs and of any size, and compared with the vantrel
// column of the nation list.
#include <cstring>
#include <string>

#include "common/nation.h"
#include "include/vantrel.h"
#include "tests/fuzz/record_input.h"
#include "tests/support/nation_list.h"

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

// The edition, loaded once after the simulator (whose driver and decoder it finds) and kept for
// the whole run: the setter and getter hold no state between inputs beyond the store they fill.
const testbed::Library& edition() {
  static const testbed::Library* library = [] {
    testbed::Simulator& sim = testbed::Simulator::instance();
    sim.load_all();
    sim.record(false);
    return new testbed::Library(testbed::library_path(testbed::kVantrelEdition));
  }();
  return *library;
}

int get_nation(char* buffer, int size) {
  return edition().fn<decltype(&GetPeopleNation)>("GetPeopleNation")(buffer, size);
}

// GetPeopleNation into a buffer of exactly `size` bytes: `name` when the whole name fits, then
// zero bytes; else 0, with as much of the name as fits (nothing for a size below 1).
void check_fetch(int size, const std::string& name) {
  fuzz::Buffer buffer(size);
  const int result = get_nation(buffer.data(), size);
  if (size <= 0) {
    FUZZ_CHECK(result == 0, result);
    return;
  }
  const int length = static_cast<int>(name.size());
  FUZZ_CHECK(result == (size >= length ? length : 0), result);
  const int copied = size >= length ? length : size;
  FUZZ_CHECK(std::memcmp(buffer.data(), name.data(), static_cast<std::size_t>(copied)) == 0, size);
  for (int i = copied; i < size; ++i) FUZZ_CHECK(buffer.data()[i] == 0, i);
}

// The record's first 256 bytes (zero bytes after a shorter one) saved for SetBaseData; the name
// of its nation code as the edition hands it out.
void check_nation_name(rec::Bytes record, int room) {
  fuzz::Bytes saved(record.data, record.data + record.size);
  saved.resize(drv::kIdentityBytes, 0);
  const int code = nation::leading_decimal(
      slot_text({saved.data(), saved.size()}, rec::span(rec::Field::Nation)));
  const std::string path = testbed::output_folder() + "record.bin";
  FUZZ_CHECK(testbed::write_file(path, saved), 0);
  FUZZ_CHECK(edition().fn<decltype(&SetBaseData)>("SetBaseData")(path.c_str()) == 1, 0);

  // Into 9 bytes, room for the longest name and more: the whole name, then zero bytes.
  constexpr int kNameRoom = 9;
  fuzz::Buffer buffer(kNameRoom);
  const int length = get_nation(buffer.data(), kNameRoom);
  FUZZ_CHECK(length >= 0 && length < kNameRoom, length);
  const std::string name(buffer.data(), static_cast<std::size_t>(length));
  for (int i = length; i < kNameRoom; ++i) FUZZ_CHECK(buffer.data()[i] == 0, i);
  const char* listed = nation_list::vantrel_name(code);
  FUZZ_CHECK(plat::ansi_to_utf8(name) == (listed ? listed : ""), code);
  check_fetch(room, name);
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
  check_nation_name(record, room);
  return 0;
}
