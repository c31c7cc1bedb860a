// The configuration file as any text, read line by line and applied to the command it is given to:
// every refusal of the file names the file and the line, and what is accepted is what the
// service then takes without a refusal of its own.
//
// Input: the command (the input's last byte), then the file's text.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fuzz/harness.h"
#include "tools/cli/config.h"
#include "tools/cli/options.h"
#include "tools/service/addresses.h"

namespace {

namespace fs = std::filesystem;
using namespace idcard;

const std::vector<std::string> kCommands[] = {
    {}, {"serve"}, {"doctor"}, {"service", "install"}, {"service", "run"}};

bool blank(char c) { return c == ' ' || c == '\t'; }

// The entries are what the lines say: keys of letters, digits and dashes, values without blanks
// around them or control characters, lines in order.
void check_entries(const std::string& text) {
  std::vector<ConfigEntry> entries;
  std::string error;
  if (!parse_config(text, &entries, &error)) {
    FUZZ_CHECK(error.rfind("line ", 0) == 0, static_cast<long long>(error.size()));
    return;
  }
  int line = 0;
  for (const ConfigEntry& e : entries) {
    FUZZ_CHECK(e.line > line, e.line);
    line = e.line;
    FUZZ_CHECK(!e.key.empty(), e.line);
    for (char c : e.key) {
      const bool key_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-';
      FUZZ_CHECK(key_char, c);
    }
    for (char c : e.value) {
      const auto byte = static_cast<unsigned char>(c);
      FUZZ_CHECK((byte >= 0x20 && byte != 0x7F) || c == '\t', byte);
    }
    if (!e.value.empty()) FUZZ_CHECK(!blank(e.value.front()) && !blank(e.value.back()), e.line);
  }
}

const std::string& config_path() {
  static const std::string path = [] {
    const fs::path folder = fs::temp_directory_path() / ("idcard-fuzz-config-" + std::to_string(getpid()));
    fs::create_directories(folder);
    return (folder / "idcard.conf").string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<std::string> args = kCommands[in.ConsumeIntegralInRange<int>(0, 4)];
  const std::string text = in.ConsumeRemainingBytesAsString();
  check_entries(text);

  const std::string& path = config_path();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  args.insert(args.end(), {"--config", path});
  const ParsedOptions p = parse_arguments(args);
  FUZZ_CHECK(p.exit == -1 || p.exit == 2, p.exit);
  if (p.exit == 2) {
    // Only the file can be at fault: the command line names nothing else.
    FUZZ_CHECK(p.text.rfind(path + ":", 0) == 0 || p.text.rfind("configuration file " + path, 0) == 0,
               static_cast<long long>(p.text.size()));
    FUZZ_CHECK(p.text.find('\n') == std::string::npos, static_cast<long long>(p.text.size()));
    return 0;
  }
  const ServeOptions& s = p.options.service;
  if (!p.options.serve) {
    // A key of the service's is refused by the other commands, never taken in silence.
    const ServeOptions none;
    FUZZ_CHECK(s.listen == none.listen && s.allowed_origins.empty() && s.allowed_hosts.empty(), 0);
    FUZZ_CHECK(s.allow_non_loopback == none.allow_non_loopback && s.quiet == none.quiet, 0);
    FUZZ_CHECK(s.log_file.empty() && s.poll_interval == none.poll_interval, 0);
    return 0;
  }
  // What the file gave, the service takes.
  const std::optional<ListenAddress> listen = parse_listen(s.listen);
  FUZZ_CHECK(listen.has_value(), 0);
  FUZZ_CHECK(listen->loopback || s.allow_non_loopback, listen->port);
  for (const std::string& origin : s.allowed_origins) FUZZ_CHECK(parse_origin(origin).has_value(), 0);
  for (const std::string& host : s.allowed_hosts) FUZZ_CHECK(parse_host_name(host).has_value(), 0);
  return 0;
}
