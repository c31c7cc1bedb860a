// The messages between idcard and its reader process: taking them apart from a stream that
// arrives in pieces, refusing what is no message, and the answers' round trip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/editions/edition.h"
#include "tools/reader/messages.h"

namespace r = idcard::reader;

namespace {

// Everything taken from `bytes`: the kinds and bodies of the whole messages, then what stopped it.
struct Taken {
  std::vector<r::Message> messages;
  r::Parse last;
  std::string rest;
};

Taken take_all(std::string bytes) {
  Taken t;
  r::Message m;
  while ((t.last = r::take_message(bytes, &m)) == r::Parse::Message) t.messages.push_back(m);
  t.rest = bytes;
  return t;
}

TEST(Messages, TakenApartFromAStream) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::pair<std::string, std::string>> messages;
    r::Parse last;
  };
  const std::string two = r::frame("call", "{}") + r::frame("answer", "{\"ok\":true}");
  const std::string binary("BM\0\n\xff 7\n", 8);
  const std::vector<Case> cases = {
      {"empty", "", {}, r::Parse::Incomplete},
      {"two in one piece", two, {{"call", "{}"}, {"answer", "{\"ok\":true}"}}, r::Parse::Incomplete},
      {"header only", "answer 5\n", {}, r::Parse::Incomplete},
      {"body cut short", "answer 5\nabc", {}, r::Parse::Incomplete},
      {"empty body", "read 0\n", {{"read", ""}}, r::Parse::Incomplete},
      {"binary body with line ends", r::frame("photo", binary), {{"photo", binary}}, r::Parse::Incomplete},
      {"no length", "answer\n", {}, r::Parse::Bad},
      {"no kind", " 5\nhello", {}, r::Parse::Bad},
      {"length not a number", "answer 5x\nhello", {}, r::Parse::Bad},
      {"negative length", "answer -1\n", {}, r::Parse::Bad},
      {"empty length", "answer \n", {}, r::Parse::Bad},
      {"length beyond the largest body", "photo " + std::to_string(r::kMaxBody + 1) + "\n", {}, r::Parse::Bad},
      {"header without end, too long", std::string(64, 'x'), {}, r::Parse::Bad},
      {"a good one, then garbage", r::frame("call", "{}") + "garbage\n", {{"call", "{}"}}, r::Parse::Bad},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Taken t = take_all(c.bytes);
    ASSERT_EQ(t.messages.size(), c.messages.size());
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_EQ(t.messages[i].kind, c.messages[i].first);
      EXPECT_EQ(t.messages[i].body, c.messages[i].second);
    }
    EXPECT_EQ(t.last, c.last);
  }
}

TEST(Messages, ByteByByteGivesTheSameMessages) {
  const std::string stream = r::frame("call", "{\"step\":\"open\"}") + r::frame("photo", std::string(300, '\0')) +
                             r::frame("answer", "{}");
  std::string pending;
  std::vector<r::Message> got;
  for (const char c : stream) {
    pending += c;
    r::Message m;
    while (r::take_message(pending, &m) == r::Parse::Message) got.push_back(m);
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].body, std::string(300, '\0'));
  EXPECT_TRUE(pending.empty());
}

TEST(Messages, AReadAnswerKeepsTheCardAndWhatTheReadLeft) {
  r::ReadAnswer a;
  a.result.ok = true;
  a.result.card.fields = {{"name", "陈志远"}, {"appended_address", ""}, {"no_such_field", "x"}};
  a.result.card.date_separator = '-';
  a.photo_name = "zp.bmp";
  a.files = {{"wz.txt", 256}, {"12345.txt", 0}};
  a.driver = "/x/libsdtapi.so";
  a.library = "/x/libridel.so";
  r::ReadAnswer b;
  ASSERT_TRUE(r::answer_from_json(r::parse_json(r::text_of(r::answer_json(a))), &b));
  ASSERT_TRUE(b.result.ok);
  // A key that no edition hands out is dropped: fields keep the editions' own keys only.
  ASSERT_EQ(b.result.card.fields.size(), 2u);
  EXPECT_STREQ(b.result.card.fields[0].key, "name");
  EXPECT_EQ(b.result.card.fields[0].value, "陈志远");
  EXPECT_EQ(b.result.card.fields[1].value, "");
  EXPECT_EQ(b.result.card.date_separator, '-');
  EXPECT_EQ(b.result.card.photo, "zp.bmp");
  EXPECT_EQ(b.files, a.files);
  EXPECT_EQ(b.driver, a.driver);
  EXPECT_EQ(b.library, a.library);
}

TEST(Messages, AFailedReadKeepsItsErrorAndLog) {
  for (const idcard::Failure kind : {idcard::Failure::NoReader, idcard::Failure::NoCard,
                                     idcard::Failure::ReadFailed, idcard::Failure::Internal}) {
    r::ReadAnswer a;
    a.result.error = {kind, "select", "SelectCard()", -3, "no card on the reader"};
    a.log = {"line one", "line two"};
    a.files = {{"wx.txt", 12}};
    r::ReadAnswer b;
    ASSERT_TRUE(r::answer_from_json(r::parse_json(r::text_of(r::answer_json(a))), &b));
    EXPECT_FALSE(b.result.ok);
    EXPECT_EQ(b.result.error.kind, kind);
    EXPECT_EQ(b.result.error.line(), a.result.error.line());
    EXPECT_EQ(b.log, a.log);
    EXPECT_EQ(b.files, a.files);
  }
}

TEST(Messages, WhatIsNoAnswerIsRefused) {
  for (const char* text : {"", "[]", "{}", "\"ok\"", "{\"ok\":false,\"error\":7}", "not json"}) {
    SCOPED_TRACE(text);
    r::ReadAnswer a;
    EXPECT_FALSE(r::answer_from_json(r::parse_json(text), &a));
  }
}

TEST(Messages, TheLoadRequestCarriesTheOptionsWithWholePaths) {
  idcard::ReaderOptions o;
  ASSERT_TRUE(idcard::set_edition(o, "vantrel"));
  o.port = 1003;
  o.mode = 2;
  o.card = "/cards/a.json";
  o.root = "/dist/";
  idcard::ReaderOptions back;
  ASSERT_TRUE(r::options_from_json(r::options_json(o), &back));
  EXPECT_EQ(back.edition, idcard::Edition::Vantrel);
  EXPECT_EQ(back.port, 1003);
  EXPECT_EQ(back.mode, 2);
  EXPECT_EQ(back.card, o.card);
  EXPECT_EQ(back.root, o.root);
  EXPECT_FALSE(r::options_from_json(r::parse_json("{\"edition\":\"nope\"}"), &back));
}

TEST(ResultNames, TheSamNumberStandsForADecimalNumber) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"<SAM>.txt", "12345678.txt", true},  {"<SAM>.txt", "-42.txt", true},
      {"<SAM>.bmp", "0.bmp", true},         {"<SAM>.txt", ".txt", false},
      {"<SAM>.txt", "-.txt", false},        {"<SAM>.txt", "12a4.txt", false},
      {"<SAM>.txt", "1234.wlt", false},     {"<SAM>.txt", "wz.txt", false},
      {"<SAM>.txt", "1234.txt.bak", false}, {"wz.txt", "wz.txt", true},
      {"wz.txt", "WZ.txt", false},          {"<SAM>.txt", "--1.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + c.name);
    EXPECT_EQ(idcard::result_name_matches(c.pattern, c.name), c.matches);
  }
}

}  // namespace
