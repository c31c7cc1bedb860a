// The conversions of the card schema: dates, nation and sex codes, base64.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace idcard {

// A date as YYYY-MM-DD when the text is one written as 8 digits with the separators the editions
// use (19880808, 1988-08-08, 1988.08.08, 1988年08月08日); any other text (长期 and the like) as it
// stands.
std::string iso_date(std::string_view text);

// A date field as the schema gives it: YYYY-MM-DD when it is a date; otherwise the card's own text,
// without the separators an edition wrote into it as if it were a date (`separator`: '-' gives
// "长期--" back as 长期, '.' gives "长期  .  ." back as 长期; 0 when the edition adds none).
std::string date_field(std::string_view text, char separator);

// The nation code of an edition's nation text (a name in any edition's spelling, with or without
// the suffix 族, or the code itself); nullopt when the text names no nation of the table.
std::optional<int> nation_code(std::string_view text);
// The name of a nation code (UTF-8); "" for a code outside the table.
const char* nation_name(int code);

// The sex code (1 male, 2 female) of an edition's sex word; nullopt for any other text.
std::optional<int> sex_code(std::string_view word);

std::string base64(std::string_view bytes);

}  // namespace idcard
