// The record layout and the three conversion rules.
#include "common/record.h"

#include <cstring>

#include "tests/support/bench.h"

namespace {

using bench::IdentityRecord;
using bench::text;
using rec::Field;

rec::Bytes view(const bench::Bytes& b) { return {b.data(), b.size()}; }

TEST(RecordLayout, FieldsFollowEachOtherAndFillTheRecord) {
  int offset = 0;
  for (const rec::Span& s : rec::kFields) {
    EXPECT_EQ(s.offset, offset);
    EXPECT_EQ(s.bytes % 2, 0);
    offset = s.end();
  }
  EXPECT_EQ(offset, drv::kIdentityBytes);
}

TEST(RecordLayout, DatePartsSplitFourTwoTwo) {
  struct Case {
    Field field;
    int year, month, day;
  } cases[] = {{Field::Birth, 36, 44, 48}, {Field::ValidFrom, 188, 196, 200},
               {Field::ValidTo, 204, 212, 216}};
  for (const Case& c : cases) {
    const rec::DateParts p = rec::date_parts(c.field);
    EXPECT_EQ(p.year.offset, c.year);
    EXPECT_EQ(p.year.units(), 4);
    EXPECT_EQ(p.month.offset, c.month);
    EXPECT_EQ(p.month.units(), 2);
    EXPECT_EQ(p.day.offset, c.day);
    EXPECT_EQ(p.day.units(), 2);
  }
}

// 王小明 in GBK.
const std::string kWangXiaoMing = text({0xCD, 0xF5, 0xD0, 0xA1, 0xC3, 0xF7});

TEST(QdxRule, KeepsPaddingAndConvertsToGbk) {
  const auto r = IdentityRecord().set(Field::Name, u"王小明").bytes();
  EXPECT_EQ(rec::qdx_text(view(r), rec::span(Field::Name)), kWangXiaoMing + std::string(12, ' '));
}

TEST(QdxRule, FifteenCharactersFillTheWholeField) {
  const std::u16string full = u"一二三四五六七八九十一二三四五";
  const auto r = IdentityRecord().set(Field::Name, full).bytes();
  EXPECT_EQ(rec::qdx_text(view(r), rec::span(Field::Name)).size(), 30u);
}

TEST(QdxRule, NulEndsTheText) {
  const auto r = IdentityRecord().set_raw(Field::Name, std::u16string(u"AB\0CD", 5)).bytes();
  EXPECT_EQ(rec::qdx_text(view(r), rec::span(Field::Name)), "AB");
}

TEST(QdxRule, DatePartsConvertOnTheirOwn) {
  const auto r = IdentityRecord().set(Field::ValidTo, u"长期ABCD").bytes();
  const rec::DateParts p = rec::date_parts(Field::ValidTo);
  EXPECT_EQ(rec::qdx_text(view(r), p.year), text({0xB3, 0xA4, 0xC6, 0xDA}) + "AB");
  EXPECT_EQ(rec::qdx_text(view(r), p.month), "CD");
  EXPECT_EQ(rec::qdx_text(view(r), p.day), "  ");
}

TEST(SdtRule, TrimsTrailingSingleByteWhiteSpaceOnly) {
  struct Case {
    std::u16string value;
    std::string expected;
  } cases[] = {
      {u"王小明", kWangXiaoMing},
      {u"AB \t\r\n\v\f", "AB"},
      {u" lead", " lead"},
      {u"王\u3000", text({0xCD, 0xF5, 0xA1, 0xA1})},  // an ideographic space stays
      {u"", ""},
  };
  for (const Case& c : cases) {
    const auto r = IdentityRecord().set_raw(Field::Name, std::u16string(15, u' '))
                       .set_raw(Field::Name, c.value)
                       .bytes();
    EXPECT_EQ(rec::sdt_text(view(r), rec::span(Field::Name)), c.expected);
  }
}

TEST(VantrelRule, SlotKeepsPaddingAndEndsInZerosAfterANul) {
  char slot[30];
  std::memset(slot, 'x', sizeof slot);
  const auto padded = IdentityRecord().set(Field::Name, u"王小明").bytes();
  rec::vantrel_slot(view(padded), rec::span(Field::Name), slot);
  EXPECT_EQ(std::string(slot, 30), kWangXiaoMing + std::string(12, ' ') + std::string(12, '\0'));

  const auto ended = IdentityRecord().set_raw(Field::Name, std::u16string(u"王小明\0", 4)).bytes();
  rec::vantrel_slot(view(ended), rec::span(Field::Name), slot);
  EXPECT_EQ(std::string(slot, 30), kWangXiaoMing + std::string(24, '\0'));
}

TEST(VantrelRule, FullWidthTextHasNoZeroByteAndNothingBeyond) {
  const auto r = IdentityRecord().set(Field::Name, u"一二三四五六七八九十一二三四五").bytes();
  char slot[31];
  slot[30] = 'G';  // guard
  rec::vantrel_slot(view(r), rec::span(Field::Name), slot);
  EXPECT_EQ(std::string(slot, 30).find('\0'), std::string::npos);
  EXPECT_EQ(slot[30], 'G');
}

TEST(VantrelRule, NulFieldGivesZeroSlot) {
  bench::Bytes r(drv::kIdentityBytes, 0);
  char slot[36];
  std::memset(slot, 'x', sizeof slot);
  rec::vantrel_slot(view(r), rec::span(Field::Reserved), slot);
  EXPECT_EQ(std::string(slot, 36), std::string(36, '\0'));
}

TEST(Conversion, ShortRecordReadsAsZeros) {
  // Only the first 40 bytes exist: the name converts, fields past the end are empty, and nothing
  // is read past the 40 bytes (AddressSanitizer would see it: the vector is exactly that long).
  auto full = IdentityRecord().set(Field::Name, u"王小明").set(Field::Nation, u"01").bytes();
  bench::Bytes shortened(full.begin(), full.begin() + 34);  // cuts the nation field in half
  EXPECT_EQ(rec::sdt_text(view(shortened), rec::span(Field::Name)), kWangXiaoMing);
  EXPECT_EQ(rec::qdx_text(view(shortened), rec::span(Field::Nation)), "0");
  EXPECT_EQ(rec::qdx_text(view(shortened), rec::span(Field::Address)), "");
  EXPECT_EQ(rec::qdx_text({nullptr, 0}, rec::span(Field::Name)), "");
}

TEST(Conversion, UnmappableAndSurrogateUnitsBecomeQuestionMarks) {
  // U+0E01 (Thai) has no GBK form; a lone surrogate is no character at all.
  const auto r = IdentityRecord().set_raw(Field::Name, u"A\u0E01B\xD800" u"C").bytes();
  EXPECT_EQ(rec::qdx_text(view(r), rec::span(Field::Name)).view().substr(0, 5), "A?B?C");
}

}  // namespace
