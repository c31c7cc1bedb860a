// The ids of the library's string table (strings.inc) and the one way the library reads a text.
#pragma once

#include <span>
#include <string_view>

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

// Reads text `id` of the resource module's string table as ANSI text into `room`, so at most
// room.size() - 1 bytes of it, zero-terminated; empty when the table has no such text. The view
// is of `room`.
std::string_view load_text(unsigned id, std::span<char> room);

}  // namespace vantrel
