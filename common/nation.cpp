#include "common/nation.h"

#include <climits>

namespace nation {
namespace {

struct Entry {
  int code;
  const char* gbk;
};

constexpr Entry kNames[] = {
#define NATION(code, name, gbk, vantrel_name) {code, gbk},
#include "common/nation_names.inc"
#undef NATION
};

// Entry 0 and then the 56 nations' names with "族"; the table has no entries for 97 and 98.
#define SDT_SUFFIX "\xD7\xE5" /* 族 */
constexpr const char* kSdtNames[] = {
    "",
#define NATION(code, name, gbk, vantrel_name) gbk SDT_SUFFIX,
#define NATION_OTHER(code, name, gbk, vantrel_name)
#include "common/nation_names.inc"
#undef NATION_OTHER
#undef NATION
};
#undef SDT_SUFFIX
static_assert(sizeof kSdtNames / sizeof kSdtNames[0] == kSdtEntries);

constexpr plat::StringEntry kVantrelStrings[] = {
#define NATION(code, name, gbk, vantrel_name) {kVantrelFirstId + code, vantrel_name},
#include "common/nation_names.inc"
#undef NATION
};

}  // namespace

const char* qdx_name(int code) {
  for (const Entry& e : kNames)
    if (e.code == code) return e.gbk;
  return "";
}

const char* sdt_name(int code) {
  if (code < 0 || code >= kSdtEntries) return "";
  return kSdtNames[code];
}

std::span<const plat::StringEntry> vantrel_strings() { return kVantrelStrings; }

std::optional<int> whole_decimal(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

int leading_decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace nation
