#include "vantrel/strings.h"

#include <span>
#include <string_view>

#include "vantrel/state.h"

namespace vantrel {
namespace {

#if defined(_WIN32)
// Windows reads the STRINGTABLE resource of the resource module (vantrel.rc).
constexpr std::span<const plat::StringEntry> table() { return {}; }
#else
// Elsewhere the same lists, compiled in.
constexpr plat::StringEntry kTexts[] = {
#define VANTREL_STRING(name, id, text) {id, text},
#include "vantrel/strings.inc"
#undef VANTREL_STRING
#define NATION(code, name, gbk, vantrel_name) {kNationNames + code, vantrel_name},
#include "common/nation_names.inc"
#undef NATION
};
constexpr std::span<const plat::StringEntry> table() { return kTexts; }

constexpr std::string_view text_of(unsigned id) {
  for (const plat::StringEntry& e : kTexts)
    if (e.id == id) return e.utf8;
  return {};
}
static_assert(text_of(kUsbDriverFile) == drv::kUsbDriverFile &&
                  text_of(kSerialDriverFile) == drv::kSerialDriverFile &&
                  text_of(kDecoderFile) == drv::kDecoderFile,
              "the library names of the string table are the driver contract's");
#endif

}  // namespace

std::string_view load_text(unsigned id, std::span<char> room) {
  if (room.empty()) return {};
  const int n = plat::load_string(reader.resources, table(), id, room.data(),
                                  static_cast<int>(room.size()));
  return {room.data(), n > 0 ? static_cast<std::size_t>(n) : 0};
}

}  // namespace vantrel
