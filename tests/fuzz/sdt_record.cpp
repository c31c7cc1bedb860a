// The SDT edition's conversion of an Identity record, or of an appended-address message, of any
// length and content: every field converted and stripped of trailing white space, the nation
// code read as a leading decimal number and named, the sex code turned into a word.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/nation.h"
#include "common/sex.h"
#include "tests/fuzz/record_input.h"

namespace {

bool single_byte_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string converted(rec::Bytes record, rec::Span span) {
  const std::string text(rec::sdt_text(record, span));
  FUZZ_CHECK(text.size() <= static_cast<std::size_t>(span.bytes), text.size());
  FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) == nullptr, span.offset);
  FUZZ_CHECK(text.empty() || !single_byte_space(text.back()), span.offset);
  return text;
}

// What C's strtol makes of the text, held to the range of int.
int reference_decimal(const std::string& text) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::RecordInput input(data, size);
  const rec::Bytes record = input.bytes();
  for (const rec::Span& span : rec::kFields) converted(record, span);
  converted(record, rec::kAppendedAddress);

  const std::string sex_code = converted(record, rec::span(rec::Field::Sex));
  const std::string_view word = sex::word(sex_code);
  FUZZ_CHECK(word == sex::kMale || word == sex::kFemale || word == sex::kUnknown, 0);

  const std::string nation_code = converted(record, rec::span(rec::Field::Nation));
  const int code = nation::leading_decimal(nation_code);
  FUZZ_CHECK(code == reference_decimal(nation_code), code);
  const bool named = code >= 1 && code <= 56;
  FUZZ_CHECK(named == (*nation::sdt_name(code) != '\0'), code);

  // The leading-number rule and the trim on any text, not only on converted fields.
  const std::string raw(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 64));
  const std::string until_nul(raw.c_str());
  FUZZ_CHECK(nation::leading_decimal(until_nul) == reference_decimal(until_nul), 0);
  const std::string trimmed = raw.substr(0, rec::trimmed_length(raw));
  FUZZ_CHECK(raw.compare(0, trimmed.size(), trimmed) == 0, 0);
  for (std::size_t i = trimmed.size(); i < raw.size(); ++i)
    FUZZ_CHECK(single_byte_space(raw[i]), static_cast<long long>(i));
  FUZZ_CHECK(trimmed.empty() || !single_byte_space(trimmed.back()), 0);
  return 0;
}
