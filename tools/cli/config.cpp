#include "tools/cli/config.h"

#include <cstdio>

#include "platform/platform.h"

namespace idcard {

namespace {

std::string_view trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool is_key_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

bool parse_config(std::string_view text, std::vector<ConfigEntry>* entries, std::string* error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A NUL would cut a value short where it is used; other control characters would reach a
    // terminal in a refusal's message.
    for (const char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", byte);
        *error = "line " + std::to_string(number) + ": a control character (" + hex + ")";
        return false;
      }
    }
    line = trim(line);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string_view key = trim(line.substr(0, equals));
    bool key_ok = !key.empty();
    for (char c : key) key_ok = key_ok && is_key_char(c);
    if (equals == std::string_view::npos || !key_ok) {
      *error = "line " + std::to_string(number) + ": not 'key = value': '" +
               std::string(line.substr(0, 80)) + "'";
      return false;
    }
    entries->push_back({std::string(key), std::string(trim(line.substr(equals + 1))), number});
  }
  return true;
}

bool read_config(const std::string& path, std::string* text, std::string* error) {
  switch (plat::read_whole_file(path.c_str(), kConfigLimit, *text, plat::Share::All)) {
    case plat::WholeFile::Read:
      return true;
    case plat::WholeFile::TooLarge:
      *error = "configuration file " + path + " is larger than " +
               std::to_string(kConfigLimit / 1024) + " KiB";
      return false;
    default:
      *error = "configuration file " + path + " cannot be read";
      return false;
  }
}

}  // namespace idcard
