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

}  // namespace
