// The words for the sex code of the QDX and SDT editions, as GBK bytes. (The vantrel edition
// takes its words from its string table.)
#pragma once

#include <string_view>

namespace sex {

inline constexpr const char kMale[] = "\xC4\xD0";              // 男
inline constexpr const char kFemale[] = "\xC5\xAE";            // 女
inline constexpr const char kUnknown[] = "\xCE\xB4\xD6\xAA";  // 未知

// "1" is male, "2" female, every other text (0, 9, empty, not a digit) unknown.
inline const char* word(std::string_view code) {
  if (code == "1") return kMale;
  if (code == "2") return kFemale;
  return kUnknown;
}

}  // namespace sex
