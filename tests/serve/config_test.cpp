// The configuration file and the command line around it: what a file carries, what the command
// line overrides, and every fault named by file, line and key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tools/cli/config.h"
#include "tools/cli/options.h"

namespace {

namespace fs = std::filesystem;
using idcard::ParsedOptions;

TEST(ServeConfig, LinesAreKeyValuePairs) {
  const std::string text =
      "\xEF\xBB\xBF# a comment\r\n"
      "\r\n"
      "  edition   =  vantrel  \r\n"
      "allow-origin=https://desk.example.org\n"
      "library = C:\\Program Files\\ridel\\ridel.dll\n"
      "  # indented comment\n"
      "quiet =";
  std::vector<idcard::ConfigEntry> entries;
  std::string error;
  ASSERT_TRUE(idcard::parse_config(text, &entries, &error)) << error;
  const std::vector<std::tuple<std::string, std::string, int>> want = {
      {"edition", "vantrel", 3},
      {"allow-origin", "https://desk.example.org", 4},
      {"library", "C:\\Program Files\\ridel\\ridel.dll", 5},
      {"quiet", "", 7}};
  ASSERT_EQ(entries.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(entries[i].key, std::get<0>(want[i]));
    EXPECT_EQ(entries[i].value, std::get<1>(want[i]));
    EXPECT_EQ(entries[i].line, std::get<2>(want[i]));
  }
}

TEST(ServeConfig, LinesThatAreNoPairsNameTheirLine) {
  for (const auto& [text, where] : std::vector<std::pair<std::string, std::string>>{
           {"port 1001\n", "line 1:"},
           {"edition = sdt\n\n= 1001\n", "line 3:"},
           {"# ok\nport: 1001\n", "line 2:"},
           {"po rt = 1\n", "line 1:"},
           {"[serve]\nport = 1\n", "line 1:"}}) {
    std::vector<idcard::ConfigEntry> entries;
    std::string error;
    EXPECT_FALSE(idcard::parse_config(text, &entries, &error)) << text;
    EXPECT_EQ(error.rfind(where, 0), 0u) << text << " -> " << error;
  }
}

// Control characters would cut a value short (NUL) or reach a terminal in a refusal; a tab is a
// blank like a space.
TEST(ServeConfig, ControlCharactersAreRefusedByLine) {
  using namespace std::string_literals;
  for (const auto& [text, where] : std::vector<std::pair<std::string, std::string>>{
           {"edition = sdt\nallow-origin = http://a.example\0.evil\n"s, "line 2: a control character (0x00)"},
           {"# \x1b[2J\n"s, "line 1: a control character (0x1B)"},
           {"port = 10\r01\n"s, "line 1: a control character (0x0D)"},
           {"quiet = true\x7f\n"s, "line 1: a control character (0x7F)"}}) {
    std::vector<idcard::ConfigEntry> entries;
    std::string error;
    EXPECT_FALSE(idcard::parse_config(text, &entries, &error)) << text;
    EXPECT_EQ(error, where);
  }
  std::vector<idcard::ConfigEntry> entries;
  std::string error;
  ASSERT_TRUE(idcard::parse_config("port\t=\t1001\t\r\n", &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].key, "port");
  EXPECT_EQ(entries[0].value, "1001");
}

class ServeConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("idcard-config-test-" + std::to_string(std::random_device()()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string write(const std::string& text) {
    const fs::path path = folder_ / "idcard.conf";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  fs::path folder_;
};

TEST_F(ServeConfigFile, CarriesTheCommandLinesOptions) {
  const std::string card = (folder_ / "card.json").string();  // absolute on either system
  const std::string path = write(
      "edition = vantrel\nport = 3\nlibrary = lib/vantrel.so\ncard = " + card + "\n"
      "listen = 127.0.0.1:9000\nallow-origin = https://a.example\nallow-origin = https://b.example\n"
      "allow-host = desk.example\nallow-non-loopback = true\npoll-interval = 250\nquiet = false\n"
      "log = idcard.log\n");
  const ParsedOptions p = idcard::parse_arguments({"serve", "--config", path});
  ASSERT_EQ(p.exit, -1) << p.text;
  const idcard::Options& o = p.options;
  EXPECT_TRUE(o.serve);
  EXPECT_EQ(o.reader.edition_name, "vantrel");
  EXPECT_EQ(o.reader.port, 3);
  // Relative paths are taken from the file's folder, absolute ones as they stand.
  EXPECT_EQ(fs::path(o.reader.library), folder_ / "lib/vantrel.so");
  EXPECT_EQ(o.reader.card, card);
  EXPECT_EQ(fs::path(o.service.log_file), folder_ / "idcard.log");
  EXPECT_EQ(o.service.listen, "127.0.0.1:9000");
  EXPECT_EQ(o.service.allowed_origins, (std::vector<std::string>{"https://a.example", "https://b.example"}));
  EXPECT_EQ(o.service.allowed_hosts, std::vector<std::string>{"desk.example"});
  EXPECT_TRUE(o.service.allow_non_loopback);
  EXPECT_EQ(o.service.poll_interval.count(), 250);
  EXPECT_FALSE(o.service.quiet);
}

// The command line overrides the file's values, wherever --config stands, and adds to its lists.
TEST_F(ServeConfigFile, CommandLineOverridesTheFile) {
  const std::string path = write("edition = vantrel\nport = 3\nallow-origin = https://a.example\n");
  const ParsedOptions p = idcard::parse_arguments(
      {"serve", "--port", "1002", "--config", path, "--allow-origin", "https://c.example", "--quiet"});
  ASSERT_EQ(p.exit, -1) << p.text;
  EXPECT_EQ(p.options.reader.edition_name, "vantrel");
  EXPECT_EQ(p.options.reader.port, 1002);
  EXPECT_EQ(p.options.service.allowed_origins,
            (std::vector<std::string>{"https://a.example", "https://c.example"}));
  EXPECT_TRUE(p.options.service.quiet);
}

TEST_F(ServeConfigFile, FaultsNameTheFileLineAndKey) {
  struct Case {
    std::string text;
    std::string expected;  // after "<path>:"
  } cases[] = {
      {"edition = sdt\nprot = 1001\n", "2: key 'prot': unknown key"},
      {"port = abc\n", "1: key 'port': bad port 'abc' (1 to 1016)"},
      {"port = 1017\n", "1: key 'port': bad port '1017'"},
      {"edition = foo\n", "1: key 'edition': unknown edition 'foo'"},
      {"quiet = yes\n", "1: key 'quiet': bad value 'yes' (true or false)"},
      {"listen =\n", "1: key 'listen': needs a value"},
      {"port = 1001\n# again\nport = 1002\n", "3: key 'port': given again (first on line 1)"},
      {"poll-interval = 5\n", "1: key 'poll-interval': bad poll interval '5'"},
      {"config = other.conf\n", "1: key 'config': unknown key"},
      {"edition = sdt\nport\n", " line 2: not 'key = value'"},
  };
  for (const Case& c : cases) {
    const std::string path = write(c.text);
    const ParsedOptions p = idcard::parse_arguments({"serve", "--config", path});
    EXPECT_EQ(p.exit, 2) << c.text;
    EXPECT_EQ(p.text.rfind(path + ":" + c.expected, 0), 0u) << c.text << " -> " << p.text;
  }
}

TEST_F(ServeConfigFile, CommandLineRefusals) {
  const std::string path = write("edition = qdx\n");
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"--config", (folder_ / "missing.conf").string()}, "cannot be read"},
      {{"--config", folder_.string()}, "cannot be read"},
      {{"--config"}, "--config needs a value"},
      {{"--config", path, "--config", path}, "--config given twice"},
      // The file's edition and the command line's mode are checked together.
      {{"--config", path, "--mode", "7"}, "bad mode 7 for the qdx edition"},
      {{"service"}, "idcard service needs install, uninstall, start, stop or run"},
      {{"service", "restart"}, "idcard service needs"},
      {{"service", "start", "--port", "1"}, "idcard service start takes no options"},
      {{"service", "stop", "--config", path}, "idcard service stop takes no options"},
      {{"service", "install", "--edition", "qdx"}, "idcard service install takes only --config"},
  };
  for (const Case& c : cases) {
    const ParsedOptions p = idcard::parse_arguments(c.args);
    EXPECT_EQ(p.exit, 2) << c.args[0];
    EXPECT_NE(p.text.find(c.expected), std::string::npos) << p.text;
  }
  std::ofstream(path, std::ios::binary) << std::string(idcard::kConfigLimit + 1, '#');
  const ParsedOptions big = idcard::parse_arguments({"--config", path});
  EXPECT_EQ(big.exit, 2);
  EXPECT_NE(big.text.find("is larger than"), std::string::npos) << big.text;
}

TEST_F(ServeConfigFile, ServiceActions) {
  const std::string path = write("edition = vantrel\n");
  const std::pair<std::vector<std::string>, idcard::ServiceAction> cases[] = {
      {{"service", "install", "--config", path}, idcard::ServiceAction::Install},
      {{"service", "uninstall"}, idcard::ServiceAction::Uninstall},
      {{"service", "start"}, idcard::ServiceAction::Start},
      {{"service", "stop"}, idcard::ServiceAction::Stop},
      {{"service", "run", "--config", path, "--port", "1002"}, idcard::ServiceAction::Run},
  };
  for (const auto& [args, action] : cases) {
    const ParsedOptions p = idcard::parse_arguments(args);
    ASSERT_EQ(p.exit, -1) << args[1] << ": " << p.text;
    EXPECT_EQ(p.options.action, action);
    EXPECT_TRUE(p.options.serve);
  }
  const ParsedOptions run = idcard::parse_arguments(cases[4].first);
  EXPECT_EQ(run.options.reader.edition_name, "vantrel");
  EXPECT_EQ(run.options.reader.port, 1002);
}

// A value refused once every option is known, or by the rules the service applies to addresses,
// still names the file, the line and the key; a key that is not for the command given is refused
// as the flag would be.
TEST_F(ServeConfigFile, EveryRefusalOfAValueNamesItsLine) {
  struct Case {
    std::vector<std::string> command;
    std::string text;
    std::string expected;  // the whole message after "<path>:"
  } cases[] = {
      {{"serve"}, "allow-origin = *\n",
       "1: key 'allow-origin': bad origin '*' (scheme://host[:port], no wildcard, no path)"},
      {{"serve"}, "allow-origin = https://a.example\nallow-origin = https://b.example/path\n",
       "2: key 'allow-origin': bad origin 'https://b.example/path' (scheme://host[:port], no "
       "wildcard, no path)"},
      {{"serve"}, "allow-host = desk:8089\n",
       "1: key 'allow-host': bad host name 'desk:8089' (a host name or address, no port, no "
       "wildcard)"},
      {{"serve"}, "listen = 127.0.0.1:99999\n",
       "1: key 'listen': bad listen address '127.0.0.1:99999' (HOST:PORT, an IP address or "
       "localhost and a port 0 to 65535)"},
      {{"serve"}, "quiet = true\nlisten = 0.0.0.0:8089\n",
       "2: key 'listen': 0.0.0.0 is not a loopback address: add --allow-non-loopback to listen "
       "there"},
      {{"service", "install"}, "listen = [::]:8089\nallow-non-loopback = false\n",
       "1: key 'listen': :: is not a loopback address: add --allow-non-loopback to listen there"},
      {{"serve"}, "edition = qdx\nmode = 7\n",
       "2: key 'mode': bad mode 7 for the qdx edition (1, 2, 3, 4, 5, 6)"},
      {{}, "mode = 6\n", "1: key 'mode': bad mode 6 for the sdt edition (1, 2, 3, 4, 5)"},
      {{"serve"}, "json = true\n",
       "1: key 'json': not for idcard serve (the service always answers JSON): it is for idcard "
       "and idcard doctor"},
      {{"serve"}, "folder = app\n", "1: key 'folder': not for idcard serve: it is for idcard doctor"},
      {{}, "edition = sdt\nallow-origin = https://desk.example\n",
       "2: key 'allow-origin': not for idcard: it is for idcard serve"},
      {{}, "static = true\n", "1: key 'static': not for idcard: it is for idcard doctor"},
      {{"doctor"}, "edition = vantrel\nlisten = 127.0.0.1:8089\n",
       "2: key 'listen': not for idcard doctor: it is for idcard serve"},
      {{"doctor"}, "mode = 1\n", "1: key 'mode': not for idcard doctor: it is for idcard and idcard serve"},
      {{"doctor"}, "library = ridel.dll\n",
       "1: key 'library': not for idcard doctor: it is for idcard and idcard serve"},
      {{"service", "run"}, "quiet = false\nstatic = true\n",
       "2: key 'static': not for idcard service run: it is for idcard doctor"},
  };
  for (const Case& c : cases) {
    const std::string path = write(c.text);
    std::vector<std::string> args = c.command;
    args.insert(args.end(), {"--config", path});
    const ParsedOptions p = idcard::parse_arguments(args);
    EXPECT_EQ(p.exit, 2) << c.text;
    EXPECT_EQ(p.text, path + ":" + c.expected) << c.text;
  }
}

// What the file gives is refused only as it finally stands: the command line may set it right.
TEST_F(ServeConfigFile, ValuesAreJudgedWithTheCommandLine) {
  struct Case {
    std::string text;
    std::vector<std::string> args;  // after "serve --config <path>"
    std::string listen;
  } cases[] = {
      {"listen = 0.0.0.0:8089\nallow-non-loopback = true\n", {}, "0.0.0.0:8089"},
      {"allow-non-loopback = true\nlisten = [::]:0\n", {}, "[::]:0"},
      {"listen = 0.0.0.0:8089\n", {"--allow-non-loopback"}, "0.0.0.0:8089"},
      {"listen = 0.0.0.0:8089\n", {"--listen", "localhost:0"}, "localhost:0"},
      {"edition = qdx\nmode = 6\n", {"--edition", "qdx"}, "127.0.0.1:8089"},
  };
  for (const Case& c : cases) {
    const std::string path = write(c.text);
    std::vector<std::string> args = {"serve", "--config", path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParsedOptions p = idcard::parse_arguments(args);
    EXPECT_EQ(p.exit, -1) << c.text << " -> " << p.text;
    EXPECT_EQ(p.options.service.listen, c.listen) << c.text;
  }
  // The file's mode is judged with the command line's edition, and blamed on its line.
  const std::string path = write("mode = 6\n");
  const ParsedOptions p = idcard::parse_arguments({"--edition", "vantrel", "--config", path});
  EXPECT_EQ(p.text, path + ":1: key 'mode': bad mode 6 for the vantrel edition (1, 2, 3, 5)");
  // The doctor takes every key it has a flag for.
  const std::string doctor = write("edition = qdx\nport = 1002\njson = true\nstatic = true\nfolder = app\n");
  const ParsedOptions d = idcard::parse_arguments({"doctor", "--config", doctor});
  ASSERT_EQ(d.exit, -1) << d.text;
  EXPECT_TRUE(d.options.doctor.json);
  EXPECT_FALSE(d.options.doctor.live);
  EXPECT_EQ(fs::path(d.options.doctor.folder), folder_ / "app");
}

// A flag that exists but not for the command given says which commands it is for; the service's
// address rules apply to the command line as they do to the file.
TEST(ServeOptions, CommandLineRefusalsNameWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // the whole message
  } cases[] = {
      {{"serve", "--json"},
       "--json is not for idcard serve (the service always answers JSON): it is for idcard and "
       "idcard doctor"},
      {{"--listen", "127.0.0.1:0"}, "--listen is not for idcard: it is for idcard serve"},
      {{"--quiet"}, "--quiet is not for idcard: it is for idcard serve"},
      {{"doctor", "--mode", "1"}, "--mode is not for idcard doctor: it is for idcard and idcard serve"},
      {{"serve", "--static"}, "--static is not for idcard serve: it is for idcard doctor"},
      {{"service", "run", "--folder", "x"},
       "--folder is not for idcard service run: it is for idcard doctor"},
      {{"serve", "--frobnicate"}, "unknown option '--frobnicate' (see idcard --help)"},
      {{"serve", "--allow-origin", "http://*.example"},
       "bad origin 'http://*.example' (scheme://host[:port], no wildcard, no path)"},
      {{"serve", "--allow-host", "*.example"},
       "bad host name '*.example' (a host name or address, no port, no wildcard)"},
      {{"serve", "--listen", "desk.example:8089"},
       "bad listen address 'desk.example:8089' (HOST:PORT, an IP address or localhost and a port "
       "0 to 65535)"},
      {{"serve", "--listen", "192.168.1.5:8089"},
       "192.168.1.5 is not a loopback address: add --allow-non-loopback to listen there"},
  };
  for (const Case& c : cases) {
    const ParsedOptions p = idcard::parse_arguments(c.args);
    EXPECT_EQ(p.exit, 2) << c.args[0];
    EXPECT_EQ(p.text, c.expected);
  }
}

}  // namespace
