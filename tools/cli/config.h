// The configuration file of `idcard` and `idcard serve` (--config FILE): what the command line
// carries, one `key = value` a line, the keys being the long options' names without their dashes:
//
//   # the desk's reader service
//   edition = vantrel
//   port = 1001
//   listen = 127.0.0.1:8089
//   allow-origin = https://desk.example.org
//   allow-origin = https://clinic.example.org
//   quiet = true
//
// Blank lines and lines starting with '#' are skipped; spaces around the key and the value are
// not part of them. Options without a value (allow-non-loopback, quiet) take true or false.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace idcard {

struct ConfigEntry {
  std::string key;
  std::string value;
  int line = 0;  // from 1
};

// The largest configuration file read.
inline constexpr std::size_t kConfigLimit = 64 * 1024;

// The entries of a configuration text, in order (a UTF-8 byte order mark and CR LF line ends are
// taken too). False, with a message naming the line, for a line that is not `key = value` or that
// holds a control character other than a tab (comments too).
bool parse_config(std::string_view text, std::vector<ConfigEntry>* entries, std::string* error);

// The text of a configuration file; false with a message when it cannot be read or is larger
// than kConfigLimit.
bool read_config(const std::string& path, std::string* text, std::string* error);

}  // namespace idcard
