// The ids of the library's string table (strings.inc) and the one way the library reads a text.
#pragma once

#include <string>

#include "common/nation.h"

namespace vantrel {

enum StringId : unsigned {
#define VANTREL_STRING(name, id, text) name = id,
#include "vantrel/strings.inc"
#undef VANTREL_STRING
};

// File and library names are read into buffers of this size.
inline constexpr int kFileNameRoom = 20;

// Nation names: id kNationNames + nation code.
inline constexpr unsigned kNationNames = nation::kVantrelFirstId;

// Reads text `id` of the resource module's string table as ANSI text into a buffer of `room`
// bytes, so at most room - 1 bytes of it; empty when the table has no such text.
std::string load_text(unsigned id, int room);

}  // namespace vantrel
