// The nation code table in each edition's form. The names themselves live once, in
// nation_names.inc.
#pragma once

#include <optional>
#include <string_view>

namespace nation {

// QDX edition: codes 1-56, 97 and 98 as GBK bytes; every other code gives "".
const char* qdx_name(int code);

// SDT edition: 57 entries, entry 0 empty, entries 1-56 the names followed by "族" (GBK).
inline constexpr int kSdtEntries = 57;
// The SDT name of code 0-56; "" for any other code.
const char* sdt_name(int code);

// Reads a nation text as the QDX edition does: the whole text must be decimal digits; anything
// else (empty, blanks, letters) has no value.
std::optional<int> whole_decimal(std::string_view text);

// Reads the leading decimal number of a text as C's atoi does: leading white space, one sign,
// digits up to the first non-digit; 0 when there are none. Saturates instead of overflowing.
int leading_decimal(std::string_view text);

}  // namespace nation
