// The one card schema, in JSON: the document of GET /api/v1/card, of the event stream's card
// events and of `idcard --json`, whichever edition read the card.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tools/card/card.h"

namespace idcard {

// The edition's name, the fields in the common form, the decoded photo (`photo_file`: the
// bitmap's bytes; empty when there is none) and the edition's own texts.
nlohmann::ordered_json card_json(const std::string& edition_name, const Card& card,
                                 const std::string& photo_file);

// {"error": {kind, step, call, code, message}} of a failed read.
nlohmann::ordered_json error_json(const ReadError& error);
// The same document for a failure around the library's calls, where no call returned anything:
// the code is null.
nlohmann::ordered_json error_json(const char* kind, const std::string& step, const std::string& call,
                                  const std::string& message);
// The name of a failure kind in the JSON: no_reader, no_card, read_failed, internal.
const char* failure_name(Failure kind);

// A document as text: UTF-8, compact, invalid bytes replaced.
std::string dump(const nlohmann::ordered_json& document);

}  // namespace idcard
