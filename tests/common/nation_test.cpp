// The nation tables and sex words of the editions, and the nation list they are built from.
#include "common/nation.h"

#include "common/sex.h"
#include "tests/support/nation_list.h"
#include "tests/support/testbed_gtest.h"

namespace {

using testbed::text;

const std::string kHan = text({0xBA, 0xBA});
const std::string kZu = text({0xD7, 0xE5});

TEST(QdxNation, NamesAndGaps) {
  struct Case {
    int code;
    std::string name;
  } cases[] = {
      {1, kHan},
      {36, text({0xC3, 0xAB, 0xC4, 0xCF})},  // 毛南
      {56, text({0xBB, 0xF9, 0xC5, 0xB5})},  // 基诺
      {97, text({0xC6, 0xE4, 0xCB, 0xFB})},  // 其他
      {98, text({0xCD, 0xE2, 0xB9, 0xFA, 0xD1, 0xAA, 0xCD, 0xB3, 0xD6, 0xD0, 0xB9, 0xFA, 0xBC,
                 0xAE, 0xC8, 0xCB, 0xCA, 0xBF})},  // 外国血统中国籍人士
      {0, ""}, {57, ""}, {60, ""}, {96, ""}, {99, ""}, {-1, ""}, {1 << 30, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(nation::qdx_name(c.code), c.name) << c.code;
}

TEST(SdtNation, FiftySevenEntriesWithZu) {
  EXPECT_EQ(nation::sdt_name(0), std::string());
  EXPECT_EQ(nation::sdt_name(1), kHan + kZu);
  EXPECT_EQ(nation::sdt_name(36), text({0xC3, 0xAB, 0xC4, 0xCF}) + kZu);
  EXPECT_EQ(nation::sdt_name(56), text({0xBB, 0xF9, 0xC5, 0xB5}) + kZu);
  for (int code : {57, 97, 98, -1, -57}) EXPECT_EQ(nation::sdt_name(code), std::string()) << code;
  for (int code = 1; code <= 56; ++code) {
    const std::string name = nation::sdt_name(code);
    ASSERT_GE(name.size(), 4u);
    EXPECT_EQ(name.substr(0, name.size() - 2), nation::qdx_name(code));
    EXPECT_EQ(name.substr(name.size() - 2), kZu);
  }
}

TEST(NationList, GbkColumnMatchesTheUtf8Names) {
  // Each name stands in the list twice, as UTF-8 and as GBK bytes: they must say the same.
  for (const nation_list::Row& row : nation_list::kRows)
    EXPECT_EQ(plat::ansi_to_utf8(row.gbk), row.name) << row.code;
}

TEST(NationCode, WholeDecimalAcceptsDigitsOnly) {
  EXPECT_EQ(nation::whole_decimal("01"), 1);
  EXPECT_EQ(nation::whole_decimal("98"), 98);
  EXPECT_EQ(nation::whole_decimal("7"), 7);
  for (const char* bad : {"", " 1", "1 ", "  ", "ab", "-1", "+1", "1a", "9999999999"})
    EXPECT_FALSE(nation::whole_decimal(bad).has_value()) << '"' << bad << '"';
}

TEST(NationCode, LeadingDecimalReadsLikeAtoi) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"01", 1},   {"56", 56},  {" 7", 7},          {"-3", -3}, {"+4x", 4},
               {"ab", 0},   {"", 0},     {"12ab", 12},        {"  ", 0},  {"- 1", 0},
               {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}};
  for (const Case& c : cases) EXPECT_EQ(nation::leading_decimal(c.text), c.value) << c.text;
}

TEST(SexWord, OnlyOneAndTwoHaveWords) {
  EXPECT_STREQ(sex::word("1"), text({0xC4, 0xD0}).c_str());
  EXPECT_STREQ(sex::word("2"), text({0xC5, 0xAE}).c_str());
  for (const char* other : {"0", "9", "5", "", "x", "11", " 1"})
    EXPECT_STREQ(sex::word(other), text({0xCE, 0xB4, 0xD6, 0xAA}).c_str()) << other;
}

}  // namespace
