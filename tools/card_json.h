// The card as the web service hands it out: one JSON schema whichever edition read it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "tools/card_reader.h"

namespace idcard {

// A date as YYYY-MM-DD when the text is one written as 8 digits with the separators the editions
// use (19880808, 1988-08-08, 1988.08.08, 1988年08月08日); any other text (长期 and the like) as it
// stands.
std::string iso_date(std::string_view text);

// The nation code of an edition's nation text (a name in any edition's spelling, with or without
// the suffix 族, or the code itself); nullopt when the text names no nation of the table.
std::optional<int> nation_code(std::string_view text);
// The name of a nation code (UTF-8); "" for a code outside the table.
const char* nation_name(int code);

// The sex code (1 male, 2 female) of an edition's sex word; nullopt for any other text.
std::optional<int> sex_code(std::string_view word);

std::string base64(std::string_view bytes);

// The document of GET /api/v1/card: the edition's name, the fields in the common form, the
// decoded photo (`photo_file`: the bitmap's bytes; empty when there is none) and the edition's own
// texts.
nlohmann::ordered_json card_json(const std::string& edition_name, const Card& card,
                                 const std::string& photo_file);

// {"error": {kind, step, call, code, message}} of a failed read.
nlohmann::ordered_json error_json(const ReadError& error);
// The name of a failure kind in the JSON: no_reader, no_card, read_failed, internal.
const char* failure_name(Failure kind);

}  // namespace idcard
