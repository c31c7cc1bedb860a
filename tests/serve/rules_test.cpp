// The service's rules that need no network: listen addresses, origins, Host headers, the event
// stream's reporting rule and the card schema's conversions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/card/conversions.h"
#include "tools/card/schema.h"
#include "tools/editions/edition_log.h"
#include "tools/service/addresses.h"
#include "tools/service/events.h"

namespace {

using idcard::CardTracker;

TEST(ServeRules, ListenAddresses) {
  struct Case {
    const char* text;
    bool valid;
    bool loopback;
    int port;
  } cases[] = {
      {"127.0.0.1:8089", true, true, 8089}, {"localhost:0", true, true, 0},
      {"[::1]:9000", true, true, 9000},     {"127.1.2.3:80", true, true, 80},
      {"0.0.0.0:8089", true, false, 8089},  {"192.168.1.5:8089", true, false, 8089},
      {"127.0.0.1", false, false, 0},       {"127.0.0.1:65536", false, false, 0},
      {"127.0.0.1:-1", false, false, 0},    {"example.com:80", false, false, 0},
      {"[::1:80", false, false, 0},         {":8089", false, false, 0},
      {"127.0.0.1:80:80", false, false, 0}, {"127.0.0.1:8o", false, false, 0},
  };
  for (const Case& c : cases) {
    const auto a = idcard::parse_listen(c.text);
    ASSERT_EQ(a.has_value(), c.valid) << c.text;
    if (!a) continue;
    EXPECT_EQ(a->loopback, c.loopback) << c.text;
    EXPECT_EQ(a->port, c.port) << c.text;
  }
}

// Allowed origins are kept in the form browsers send: scheme and host lower case, the scheme's
// default port left out.
TEST(ServeRules, AllowedOriginsAreExactOriginsAsBrowsersSendThem) {
  const std::pair<const char*, const char*> canonical[] = {
      {"http://localhost:3000", "http://localhost:3000"},
      {"HTTPS://DESK.EXAMPLE.ORG", "https://desk.example.org"},
      {"https://desk.example.org:443", "https://desk.example.org"},
      {"http://desk.example.org:80", "http://desk.example.org"},
      {"http://desk.example.org:0080", "http://desk.example.org"},
      {"http://desk.example.org:443", "http://desk.example.org:443"},
      {"https://desk.example.org:80", "https://desk.example.org:80"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      {"http://[0:0:0:0:0:0:0:1]", "http://[::1]"},
      {"http://192.168.1.5:8080", "http://192.168.1.5:8080"},
  };
  for (const auto& [given, sent] : canonical) EXPECT_EQ(idcard::parse_origin(given), sent) << given;
  for (const char* bad :
       {"*", "http://*", "http://*.example", "null", "localhost:3000", "ftp://example",
        "http://example/", "http://example/path", "http://user@example", "http://exa mple",
        "http://example:0", "http://example:99999", "http://", "https://:80", "http://::1",
        "http://.example", "http://0.0.0.0"}) {
    EXPECT_FALSE(idcard::parse_origin(bad)) << bad;
  }
}

TEST(ServeRules, AllowedHostsAreNamesAsHostHeadersCarryThem) {
  const std::pair<const char*, const char*> canonical[] = {
      {"Desk.Example.Org", "desk.example.org"}, {"desk-pc", "desk-pc"},
      {"192.168.1.5", "192.168.1.5"},           {"FE80::1", "[fe80::1]"},
      {"[fe80::0:1]", "[fe80::1]"},
  };
  for (const auto& [given, header] : canonical)
    EXPECT_EQ(idcard::parse_host_name(given), header) << given;
  for (const char* bad : {"", "desk:8089", "*.example", "0.0.0.0", "::", "[::]", "desk pc",
                          "http://desk", "[fe80::1"}) {
    EXPECT_FALSE(idcard::parse_host_name(bad)) << bad;
  }
  const std::vector<std::string> hosts = {"desk.example.org", "[fe80::1]"};
  EXPECT_TRUE(idcard::host_allowed("DESK.example.org:8089", 8089, hosts));
  EXPECT_TRUE(idcard::host_allowed("[fe80::1]:8089", 8089, hosts));
  EXPECT_FALSE(idcard::host_allowed("desk.example.org:8090", 8089, hosts));
  EXPECT_FALSE(idcard::host_allowed("0.0.0.0:8089", 8089, hosts));
  EXPECT_FALSE(idcard::host_allowed("[::]:8089", 8089, hosts));
}

TEST(ServeRules, HostMustNameThisServiceOnLoopback) {
  struct Case {
    const char* header;
    bool allowed;
  } cases[] = {
      {"127.0.0.1:8089", true},
      {"localhost:8089", true},
      {"LOCALHOST:8089", true},
      {"[::1]:8089", true},
      {"127.0.0.1", false},
      {"127.0.0.1:8090", false},
      {"evil.example:8089", false},
      {"localhost.evil.example:8089", false},
      {"127.0.0.1.nip.example:8089", false},
      {"", false},
      {"127.0.0.1:08089x", false},
      {"127.0.0.1:8089:8089", false},
      {"[::1]8089", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(idcard::host_allowed(c.header, 8089, {}), c.allowed) << c.header;
  EXPECT_TRUE(idcard::host_allowed("127.0.0.1", 80, {})) << "no port is port 80";
  EXPECT_TRUE(idcard::host_allowed("192.168.1.5:8089", 8089, {"192.168.1.5"}));
  EXPECT_FALSE(idcard::host_allowed("192.168.1.6:8089", 8089, {"192.168.1.5"}));
}

// A script of polls and what each must report: C = card (its ID), N = no card, E = error (its key).
struct Poll {
  char what;
  const char* arg;
  bool card, error, ready;
};

TEST(ServeRules, TrackerReportsEachPlacementOnce) {
  const Poll script[] = {
      {'N', "", false, false, false},   // nothing yet
      {'C', "A", true, false, false},   // placed
      {'C', "A", false, false, false},  // still there
      {'C', "B", true, false, false},   // another card: at once
      {'C', "A", true, false, false},   // and back to the first: also another card
      {'N', "", false, false, false},   // taken off
      {'N', "", false, false, false},
      {'C', "A", true, false, false},   // put back
      {'E', "x", false, true, false},   // the reader fails
      {'E', "x", false, false, false},  // the same failure: said once
      {'E', "y", false, true, false},   // another failure
      {'C', "A", false, false, true},   // answers again; an error is no proof the card went away
      {'E', "x", false, true, false},
      {'N', "", false, false, true},  // answers again, without a card
      {'C', "A", true, false, false},
  };
  CardTracker t;
  int step = 0;
  for (const Poll& p : script) {
    const CardTracker::Events e = p.what == 'C'   ? t.card(p.arg)
                                  : p.what == 'N' ? t.no_card()
                                                  : t.error(p.arg);
    EXPECT_EQ(e.card, p.card) << "poll " << step;
    EXPECT_EQ(e.error, p.error) << "poll " << step;
    EXPECT_EQ(e.ready, p.ready) << "poll " << step;
    EXPECT_EQ(t.card_present(), p.what == 'C') << "poll " << step;
    ++step;
  }
}

TEST(ServeRules, CardSchemaConversions) {
  struct Date {
    const char* in;
    const char* out;
  } dates[] = {{"19880808", "1988-08-08"},
               {"1988-08-08", "1988-08-08"},
               {"1988.08.08", "1988-08-08"},
               {"1988年08月08日", "1988-08-08"},
               {"长期", "长期"},
               {"2035长期", "2035长期"},
               {"1988080", "1988080"},
               {"198808081", "198808081"},
               {"", ""},
               {"1988/08/08", "1988/08/08"}};
  for (const Date& d : dates) EXPECT_EQ(idcard::iso_date(d.in), d.out) << d.in;

  EXPECT_EQ(idcard::nation_code("汉"), 1);
  EXPECT_EQ(idcard::nation_code("汉族"), 1);
  EXPECT_EQ(idcard::nation_code("蒙古族"), 2);
  EXPECT_EQ(idcard::nation_code("01"), 1);
  EXPECT_EQ(idcard::nation_code("56"), 56);
  EXPECT_FALSE(idcard::nation_code("99"));
  EXPECT_FALSE(idcard::nation_code("族"));
  EXPECT_FALSE(idcard::nation_code(""));
  EXPECT_FALSE(idcard::nation_code("火星"));
  EXPECT_STREQ(idcard::nation_name(1), "汉");
  EXPECT_STREQ(idcard::nation_name(99), "");

  EXPECT_EQ(idcard::sex_code("男"), 1);
  EXPECT_EQ(idcard::sex_code("女"), 2);
  EXPECT_FALSE(idcard::sex_code("未知"));

  EXPECT_EQ(idcard::base64(""), "");
  EXPECT_EQ(idcard::base64("f"), "Zg==");
  EXPECT_EQ(idcard::base64("fo"), "Zm8=");
  EXPECT_EQ(idcard::base64("foo"), "Zm9v");
  EXPECT_EQ(idcard::base64(std::string("\xff\x00\xfe", 3)), "/wD+");
  EXPECT_EQ(idcard::base64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(idcard::base64("foobar"), "Zm9vYmFy");
}

// A date field that holds no date comes out as the card has it, whatever separators the edition
// wrote into it.
TEST(ServeRules, DateFieldsThatAreNoDatesStandAsTheCardHasThem) {
  struct Case {
    const char* text;
    char separator;
    const char* out;
  } cases[] = {{"长期--", '-', "长期"},         {"长期  .  .", '.', "长期"},
               {"长期", 0, "长期"},             {"2035-01-01", '-', "2035-01-01"},
               {"2035.01.01", '.', "2035-01-01"}, {"20350101", 0, "2035-01-01"},
               {"长期有-效-", '-', "长期有效"},   {"", '-', ""},
               {"--", '-', ""}};
  for (const Case& c : cases) EXPECT_EQ(idcard::date_field(c.text, c.separator), c.out) << c.text;
}

TEST(ServeRules, QdxValiditySplitsIntoTwoDates) {
  idcard::Card card;
  card.fields = {{"validity", "2015.01.01-长期"}, {"sex", "女"}, {"nation", "布依"}};
  const auto doc = idcard::card_json("qdx", card, "");
  EXPECT_EQ(doc["card"]["valid_from"], "2015-01-01");
  EXPECT_EQ(doc["card"]["valid_to"], "长期");
  EXPECT_EQ(doc["card"]["sex_code"], 2);
  EXPECT_EQ(doc["card"]["nation_code"], 9);
  EXPECT_TRUE(doc["photo"].is_null()) << "no bitmap, no photo";
  EXPECT_TRUE(doc["card"]["appended_address"].is_null());

  card.fields = {{"validity", "2015.01.01-长期  .  ."}};
  card.date_separator = '.';
  EXPECT_EQ(idcard::card_json("qdx", card, "")["card"]["valid_to"], "长期");
}

// The card document as text is the serializer's own, whether the photo's base64 is spliced in or
// the document goes through the serializer whole.
TEST(ServeRules, DumpWritesWhatTheSerializerWrites) {
  using Json = nlohmann::ordered_json;
  idcard::Card card;
  card.fields = {{"name", "\"photo\":{\"base64\":\"\"}"}, {"sex", "女"}};
  std::string bitmap = "BM" + std::string(52, '\x01');
  for (int i = 0; i < 3000; ++i) bitmap += static_cast<char>(i * 7);
  const Json with_photo = idcard::card_json("sdt", card, bitmap);
  Json odd_photo = with_photo;
  odd_photo["photo"]["base64"] = "not \"base64\" \xff";
  const Json documents[] = {with_photo, odd_photo, idcard::card_json("sdt", card, ""),
                            Json{{"photo", 1}}, Json{{"photo", {{"base64", 2}}}}, Json::array({1, "x"})};
  for (const Json& doc : documents) {
    EXPECT_EQ(idcard::dump(doc), doc.dump(-1, ' ', false, Json::error_handler_t::replace))
        << doc.dump().substr(0, 200);
  }
}

// The edition's log, grown past its limit, is cut back to its newest whole lines.
TEST(ServeRules, EditionLogKeepsItsNewestLines) {
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / "idcard-rules-test.log";
  constexpr std::size_t kLimit = 1 << 20;
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 100000; ++i) out << "1004<_Authenticate>entry " << i << "\r\n";
  }
  ASSERT_GT(fs::file_size(path), 2 * kLimit);
  EXPECT_TRUE(idcard::bound_log(path.string(), kLimit));
  const std::vector<std::string> lines = idcard::last_lines(path.string(), 1000000);
  EXPECT_LE(fs::file_size(path), kLimit / 2);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("1004<_Authenticate>entry ", 0), 0u) << "starts with a whole line";
  EXPECT_EQ(lines.back(), "1004<_Authenticate>entry 99999");
  const auto size = fs::file_size(path);
  EXPECT_TRUE(idcard::bound_log(path.string(), kLimit));
  EXPECT_EQ(fs::file_size(path), size) << "a log within its limit stays as it is";
  EXPECT_EQ(idcard::last_lines(path.string(), 2).size(), 2u);
  fs::remove(path);
  EXPECT_TRUE(idcard::bound_log(path.string(), kLimit)) << "no log yet is no failure";
}

}  // namespace
