#include "tools/card/conversions.h"

#include <algorithm>
#include <cstdint>

#include "common/nation.h"

namespace idcard {

namespace {

struct Nation {
  int code;
  const char* name;     // UTF-8
  const char* vantrel;  // the vantrel edition's spelling, UTF-8
};

constexpr Nation kNations[] = {
#define NATION(code, utf8, gbk, vantrel) {code, utf8, vantrel},
#include "common/nation_names.inc"
#undef NATION
};

constexpr std::string_view kNationSuffix = "族";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// YYYY-MM-DD of a date written as 8 digits with the editions' separators; nullopt for other text.
std::optional<std::string> as_date(std::string_view text) {
  static constexpr std::string_view kSeparators[] = {"-", ".", "年", "月", "日"};
  std::string digits;
  for (std::size_t i = 0; i < text.size();) {
    if (is_digit(text[i])) {
      digits += text[i++];
      continue;
    }
    std::size_t skip = 0;
    for (std::string_view sep : kSeparators) {
      if (text.substr(i, sep.size()) == sep) skip = sep.size();
    }
    if (!skip) return std::nullopt;
    i += skip;
  }
  if (digits.size() != 8) return std::nullopt;
  return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
}

}  // namespace

std::string iso_date(std::string_view text) { return as_date(text).value_or(std::string(text)); }

std::string date_field(std::string_view text, char separator) {
  if (std::optional<std::string> date = as_date(text)) return *date;
  if (!separator) return std::string(text);
  // Not a date: the edition split it as one all the same. Its separators go, and the blanks that
  // padded the card's text within the parts.
  std::string own;
  for (char c : text) {
    if (c != separator) own += c;
  }
  return trimmed(own);
}

std::optional<int> nation_code(std::string_view text) {
  if (text.size() > kNationSuffix.size() &&
      text.substr(text.size() - kNationSuffix.size()) == kNationSuffix) {
    text.remove_suffix(kNationSuffix.size());
  }
  if (text.empty()) return std::nullopt;
  const std::optional<int> number = nation::whole_decimal(text);
  for (const Nation& n : kNations) {
    if (number ? *number == n.code : text == n.name || text == n.vantrel) return n.code;
  }
  return std::nullopt;
}

const char* nation_name(int code) {
  for (const Nation& n : kNations) {
    if (n.code == code) return n.name;
  }
  return "";
}

std::optional<int> sex_code(std::string_view word) {
  if (word == "男") return 1;
  if (word == "女") return 2;
  return std::nullopt;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  // Written in place, three bytes to four characters: a photo is tens of kilobytes, encoded on
  // every read.
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* o = out.data();
  const std::size_t whole = bytes.size() / 3 * 3;
  for (std::size_t i = 0; i < whole; i += 3, o += 4) {
    const std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - whole;  // 1 or 2 bytes before the padding
  if (rest) {
    const std::uint32_t v = std::uint32_t{in[whole]} << 16 | (rest == 2 ? std::uint32_t{in[whole + 1]} << 8 : 0u);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    if (rest == 2) o[2] = kAlphabet[(v >> 6) & 63];
  }
  return out;
}

}  // namespace idcard
