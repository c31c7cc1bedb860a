// The QDX edition's conversion of an Identity record of any length and content: every field and
// every date part converted as it stands, the nation code read as a whole decimal number and
// named, the sex code turned into a word.
#include <cstring>
#include <string>

#include "common/nation.h"
#include "common/sex.h"
#include "tests/fuzz/record_input.h"

namespace {

// A converted text: at most two GBK bytes per character and no zero byte, since the conversion
// stops at the first NUL character.
std::string converted(rec::Bytes record, rec::Span span) {
  const std::string text(rec::qdx_text(record, span));
  FUZZ_CHECK(text.size() <= static_cast<std::size_t>(span.bytes), text.size());
  FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) == nullptr, span.offset);
  return text;
}

bool all_digits(const std::string& text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::RecordInput input(data, size);
  const rec::Bytes record = input.bytes();
  for (const rec::Span& span : rec::kFields) converted(record, span);
  for (rec::Field date : {rec::Field::Birth, rec::Field::ValidFrom, rec::Field::ValidTo}) {
    const rec::DateParts parts = rec::date_parts(date);
    for (const rec::Span& part : {parts.year, parts.month, parts.day}) converted(record, part);
  }

  const std::string sex_code = converted(record, rec::span(rec::Field::Sex));
  const std::string_view word = sex::word(sex_code);
  FUZZ_CHECK(word == sex::kMale || word == sex::kFemale || word == sex::kUnknown, 0);
  FUZZ_CHECK((word == sex::kMale) == (sex_code == "1"), 0);

  // The nation code counts only as a whole decimal number; a name exists for 1-56, 97 and 98.
  const std::string nation_code = converted(record, rec::span(rec::Field::Nation));
  const std::optional<int> code = nation::whole_decimal(nation_code);
  FUZZ_CHECK(code.has_value() == (!nation_code.empty() && all_digits(nation_code)), 0);
  if (code) {
    FUZZ_CHECK(*code == std::stoi(nation_code), *code);
    const bool named = (*code >= 1 && *code <= 56) || *code == 97 || *code == 98;
    FUZZ_CHECK(named == (*nation::qdx_name(*code) != '\0'), *code);
  }
  return 0;
}
