// The getters' buffer contract, the coded fields' names and the three setters.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <utility>

#include "common/nation.h"
#include "tests/support/nation_list.h"
#include "tests/support/vantrel_fixture.h"

namespace vantrel_test {
namespace {

using Lines = std::vector<std::string>;

class Getters : public VantrelTest {
 protected:
  // A store filled from a record whose sex and nation fields hold these texts.
  void store_codes(std::u16string_view sex, std::u16string_view nation) {
    ASSERT_EQ(set_base_data(
                  test_card().set(rec::Field::Sex, sex).set(rec::Field::Nation, nation).bytes()),
              1);
  }
};

struct TextGetter {
  const char* name;
  const std::string* text;
};

const TextGetter kTextGetters[] = {
    {"GetPeopleName", &kName},       {"GetPeopleBirthday", &kBirth},
    {"GetPeopleAddress", &kAddress}, {"GetPeopleIDCode", &kIdNumber},
    {"GetDepartment", &kAuthority},  {"GetStartDate", &kValidFrom},
    {"GetEndDate", &kValidTo},       {"GetReserve", &kReserved},
};

TEST_F(Getters, TextGettersAtExactShortAndLongBuffers) {
  read_test_card();
  for (const TextGetter& g : kTextGetters) {
    SCOPED_TRACE(g.name);
    const std::string& t = *g.text;
    const int n = static_cast<int>(t.size());
    EXPECT_EQ(get(g.name, n).result, n);  // no terminator written
    EXPECT_EQ(get(g.name, n).bytes, t);
    const Got cut = get(g.name, n - 1);  // cut: the first bytes stay, the result is 0
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.bytes, t.substr(0, t.size() - 1));
    const Got roomy = get(g.name, n + 5);
    EXPECT_EQ(roomy.result, n);
    EXPECT_EQ(roomy.bytes, t + std::string(5, '\0'));
  }
}

TEST_F(Getters, BeforeAnyReadEverythingIsEmpty) {
  for (const TextGetter& g : kTextGetters) {
    EXPECT_EQ(get(g.name, 8).result, 0) << g.name;
    EXPECT_EQ(get(g.name, 8).bytes, std::string(8, '\0')) << g.name;
  }
  for (const char* name : {"GetPeopleNation", "GetPhotoBMP", "GetAppAddress"}) {
    EXPECT_EQ(get(name, 8).result, 0) << name;
    EXPECT_EQ(get(name, 8).bytes, std::string(8, '\0')) << name;
  }
  // No name, no sex: the buffer is left as it was.
  EXPECT_EQ(get("GetPeopleSex", 8).result, 0);
  EXPECT_EQ(get("GetPeopleSex", 8).bytes, std::string(8, '\xCC'));
}

TEST_F(Getters, BuffersThatCannotBeWritten) {
  read_test_card();
  const char* const getters[] = {"GetPeopleName",     "GetPeopleSex",     "GetPeopleNation",
                                 "GetPeopleBirthday", "GetPeopleAddress", "GetPeopleIDCode",
                                 "GetDepartment",     "GetStartDate",     "GetEndDate",
                                 "GetReserve",        "GetPhotoBMP",      "GetAppAddress"};
  for (const char* name : getters) {
    for (int size : {0, -1, -100000, INT_MIN}) {
      EXPECT_EQ(get(name, size).result, 0) << name << " " << size;  // the guard stays intact
    }
    if (std::string_view(name) == "GetAppAddress")
      EXPECT_EQ(fn<decltype(&::GetAppAddress)>(name)(1, nullptr, 70), 0);
    else
      EXPECT_EQ(fn<int(WINAPI*)(char*, int)>(name)(nullptr, 40000), 0) << name;
  }
}

TEST_F(Getters, FullWidthNameFillsItsSlot) {
  const std::u16string name(15, u'汉');
  ASSERT_EQ(set_base_data(test_card().set(rec::Field::Name, name).bytes()), 1);
  std::string gbk;
  for (int i = 0; i < 15; ++i) gbk += text({0xBA, 0xBA});
  EXPECT_EQ(get("GetPeopleName", 30).result, 30);
  EXPECT_EQ(get("GetPeopleName", 30).bytes, gbk);
  EXPECT_EQ(get("GetPeopleName", 31).bytes, gbk + '\0');
  EXPECT_EQ(get("GetPeopleSex", 2).bytes, text({0xC4, 0xD0}));  // the next slot is intact
}

TEST_F(Getters, SexNames) {
  struct Case {
    std::u16string code;
    int size;
    int result;
    std::string bytes;
  } cases[] = {
      {u"1", 5, 2, text({0xC4, 0xD0, 0, 0, 0})},     // 男
      {u"2", 2, 2, text({0xC5, 0xAE})},              // 女
      {u"0", 4, 4, text({0xCE, 0xB4, 0xD6, 0xAA})},  // 未知
      {u"9", 4, 4, text({0xCE, 0xB4, 0xC3, 0xF7})},  // 未明
      {u"5", 2, 2, text({0xCE, 0xDE})},              // 无: no name for the code
      {u"X", 4, 4, text({0xCE, 0xB4, 0xD6, 0xAA})},  // not a digit: code 0
      {u"1", 1, 0, text({0xC4})},                    // one byte copied, too few to count
      {u"0", 2, 2, text({0xCE, 0xB4})},              // cut, and still counted
      {u"0", 3, 3, text({0xCE, 0xB4, 0xD6})},
  };
  for (const Case& c : cases) {
    store_codes(c.code, u"01");
    const Got got = get("GetPeopleSex", c.size);
    EXPECT_EQ(got.result, c.result) << c.size;
    EXPECT_EQ(got.bytes, c.bytes) << c.size;
  }
}

TEST_F(Getters, NationNamesForEveryCode) {
  for (int code = 0; code <= 100; ++code) {
    const char digits[3] = {static_cast<char>('0' + code / 10 % 10),
                            static_cast<char>('0' + code % 10), 0};
    store_codes(u"1", code == 100 ? u"1A" : std::u16string(digits, digits + 2));
    // This edition's own spellings; otherwise the shared table's names, "" for no name.
    std::string expected = nation::qdx_name(code == 100 ? 1 : code);
    if (code == 36) expected = text({0xC3, 0xAB, 0xC4, 0xD1});                          // 毛难
    if (code == 98) expected = text({0xCD, 0xE2, 0xB9, 0xFA, 0xD1, 0xAA, 0xCD, 0xB3});  // 外国血统
    const Got got = get("GetPeopleNation", 9);
    EXPECT_EQ(got.result, static_cast<int>(expected.size())) << code;
    EXPECT_EQ(got.bytes, expected + std::string(9 - expected.size(), '\0')) << code;
  }
  store_codes(u"1", u"05");  // 维吾尔, 6 bytes
  EXPECT_EQ(get("GetPeopleNation", 6).result, 6);
  const Got cut = get("GetPeopleNation", 5);
  EXPECT_EQ(cut.result, 0);
  EXPECT_EQ(cut.bytes, text({0xCE, 0xAC, 0xCE, 0xE1, 0xB6}));
}

// The nation names as the edition ships them (its string table: on Windows the resource of the
// DLL, elsewhere the table compiled into the library), against the vantrel column of the nation
// list the table is built from.
class VantrelNation : public Getters {};

TEST_F(VantrelNation, OwnSpellingsAsStringTableTexts) {
  int named = 0;
  for (int code = 0; code <= 99; ++code) {
    SCOPED_TRACE(code);
    const char16_t digits[] = {static_cast<char16_t>(u'0' + code / 10),
                               static_cast<char16_t>(u'0' + code % 10)};
    store_codes(u"1", std::u16string_view(digits, 2));
    const Got got = get("GetPeopleNation", 9);
    const std::string name = got.bytes.substr(0, static_cast<std::size_t>(std::max(got.result, 0)));
    EXPECT_EQ(got.bytes, name + std::string(9 - name.size(), '\0'));
    const char* listed = nation_list::vantrel_name(code);
    EXPECT_EQ(plat::ansi_to_utf8(name), listed ? listed : "");
    named += !name.empty();
#if defined(_WIN32)
    // The resource itself, as LoadString reads it: ids 2000 + code.
    char text[64];
    const int n = plat::load_string(plat::find_loaded_module("ridel.dll"), {},
                                    2000 + static_cast<unsigned>(code), text, sizeof text);
    EXPECT_EQ(std::string(text, static_cast<std::size_t>(std::max(n, 0))), name);
#endif
  }
  EXPECT_EQ(named, 58);  // codes 1 to 56, 97 and 98
  // Four spellings written out: two that all editions share, and this edition's own two.
  const std::pair<std::u16string_view, std::string> spellings[] = {
      {u"01", "汉"}, {u"36", "毛难"}, {u"97", "其他"}, {u"98", "外国血统"}};
  for (const auto& [code, spelling] : spellings) {
    store_codes(u"1", code);
    const Got got = get("GetPeopleNation", 9);
    EXPECT_EQ(plat::ansi_to_utf8(got.bytes.substr(0, static_cast<std::size_t>(got.result))),
              spelling);
  }
}

TEST_F(Getters, AppendedAddressHoldsOneByteBack) {
  read_test_card();
  const std::string& t = kAppendedAddressText;  // 6 bytes
  const Got exact = get("GetAppAddress", 6);
  EXPECT_EQ(exact.result, 0);
  EXPECT_EQ(exact.bytes, t.substr(0, 5) + '\0');
  for (int index = 1; index <= 4; ++index) {
    const Got got = get("GetAppAddress", 7, index);
    EXPECT_EQ(got.result, 6) << index;
    EXPECT_EQ(got.bytes, t + '\0') << index;
  }
  for (int index : {0, 5, -1}) {
    const Got got = get("GetAppAddress", 7, index);
    EXPECT_EQ(got.result, 0) << index;
    EXPECT_EQ(got.bytes, std::string(7, '\0')) << index;
  }
  EXPECT_EQ(get("GetAppAddress", 1).bytes, std::string(1, '\0'));
}

TEST_F(Getters, PhotoAtExactShortAndLongBuffers) {
  read_test_card();
  const Bytes bitmap = read("ZP.bmp");
  const std::string bmp(bitmap.begin(), bitmap.end());
  const int n = static_cast<int>(bmp.size());
  ASSERT_GT(n, 0);
  EXPECT_EQ(get("GetPhotoBMP", n).result, n);
  const Got cut = get("GetPhotoBMP", n - 1);
  EXPECT_EQ(cut.result, 0);
  EXPECT_EQ(cut.bytes, bmp.substr(0, bmp.size() - 1));
  const Got roomy = get("GetPhotoBMP", 102400);
  EXPECT_EQ(roomy.result, n);
  EXPECT_EQ(roomy.bytes, bmp + std::string(102400 - bmp.size(), '\0'));
}

TEST_F(Getters, SetBaseDataThresholds) {
  EXPECT_EQ(SetBaseData(nullptr), 0);
  EXPECT_TRUE(log_lines().empty());
  const Bytes card = test_card().bytes();
  EXPECT_EQ(set_base_data(Bytes(card.begin(), card.begin() + 255)), 0);
  EXPECT_EQ(get("GetPeopleName", 30).result, 0);
  Bytes longer = card;
  longer.resize(300, 0x41);  // only the first 256 bytes count
  EXPECT_EQ(set_base_data(longer), 1);
  EXPECT_EQ(get("GetPeopleName", 17).bytes, kName);
  // A shorter file keeps the store; a whole record replaces it, clearing the rest.
  ASSERT_EQ(SetAppAddress(test_appended_address().data(), 280), 1);
  EXPECT_EQ(set_base_data(Bytes(card.begin(), card.begin() + 10)), 0);
  EXPECT_EQ(get("GetPeopleName", 17).bytes, kName);
  EXPECT_EQ(get("GetAppAddress", 7).result, 6);
  EXPECT_EQ(set_base_data(testbed::IdentityRecord().set(rec::Field::Name, u"Li").bytes()), 1);
  EXPECT_EQ(get("GetPeopleName", 2).bytes, "Li");
  EXPECT_EQ(get("GetAppAddress", 7).result, 0);
  EXPECT_TRUE(log_lines().empty());
  // A file that cannot be opened; the system's reason is "not found".
  EXPECT_EQ(SetBaseData(out("missing.bin").c_str()), 0);
  EXPECT_EQ(log_lines(), (Lines{entry(1011, 2, "")}));
}

TEST_F(Getters, SetAppAddressThresholds) {
  Bytes message = test_appended_address();
  EXPECT_EQ(SetAppAddress(nullptr, 280), 0);
  EXPECT_EQ(SetAppAddress(message.data(), 279), 0);
  EXPECT_EQ(SetAppAddress(message.data(), -1), 0);
  EXPECT_EQ(get("GetAppAddress", 70).result, 0);
  EXPECT_EQ(SetAppAddress(message.data(), 280), 1);
  EXPECT_EQ(get("GetAppAddress", 7).bytes, kAppendedAddressText + '\0');
  // Replaced whole; a shorter message leaves it.
  const Bytes other = testbed::ucs2(u"AB");
  std::copy(other.begin(), other.end(), message.begin());
  std::fill(message.begin() + 4, message.begin() + 70, 0);
  EXPECT_EQ(SetAppAddress(message.data(), 279), 0);
  EXPECT_EQ(get("GetAppAddress", 7).bytes, kAppendedAddressText + '\0');
  EXPECT_EQ(SetAppAddress(message.data(), 280), 1);
  EXPECT_EQ(get("GetAppAddress", 7).bytes, std::string("AB\0\0\0\0\0", 7));
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

TEST_F(Getters, SetPhotoDataDecodesReadsAndDeletesTheBitmap) {
  read_test_card();
  const Bytes bitmap = read("ZP.bmp");
  EXPECT_EQ(SetPhotoData(nullptr), 0);
  sim().clear_journal();
  // The photo of the same card, decoded again with the port still open.
  ASSERT_EQ(SetPhotoData(out("XP.wlt").c_str()), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_ClosePort(1001)", "WltRS GetBmp(" + out("XP.wlt") + ", 2)",
                   "sdtapi SDT_OpenPort(1001)"}));
  EXPECT_FALSE(exists("XP.bmp"));
  EXPECT_TRUE(exists("ZP.bmp"));
  const Got photo = get("GetPhotoBMP", static_cast<int>(bitmap.size()));
  EXPECT_EQ(photo.result, static_cast<int>(bitmap.size()));
  EXPECT_EQ(photo.bytes, std::string(bitmap.begin(), bitmap.end()));
  EXPECT_EQ(get("GetPeopleName", 17).bytes, kName);  // only the photo changed
  // A decoder failure is logged and handed back; the photo stays.
  ASSERT_EQ(CloseComm(), 1);
  sim().set_decoder_result(-2);
  sim().clear_journal();
  EXPECT_EQ(SetPhotoData(out("XP.wlt").c_str()), -2);
  EXPECT_EQ(sim().journal_lines(), (Lines{"WltRS GetBmp(" + out("XP.wlt") + ", 1)"}));
  EXPECT_EQ(get("GetPhotoBMP", static_cast<int>(bitmap.size())).result,
            static_cast<int>(bitmap.size()));
  EXPECT_EQ(log_lines(), (Lines{entry(1007, -2, "")}));
}

TEST_F(Getters, SetPhotoDataLooksForTheBitmapInTheOutputFolder) {
  namespace fs = std::filesystem;
  read_test_card();
  const std::string folder = out("elsewhere");
  fs::create_directory(folder);
  const std::string photo = folder + plat::kPathSeparator + "PH.wlt";
  ASSERT_TRUE(testbed::write_file(photo, read("XP.wlt")));
  // The decoder writes PH.bmp beside the photo; the output folder has none.
  EXPECT_EQ(SetPhotoData(photo.c_str()), 1);
  EXPECT_EQ(get("GetPhotoBMP", 100).result, 0);
  EXPECT_TRUE(plat::file_exists((folder + plat::kPathSeparator + "PH.bmp").c_str()));
  fs::remove_all(folder);
  EXPECT_EQ(log_lines(), (Lines{entry(1010, 2, out("PH.bmp"))}));
}

TEST_F(Getters, BitmapPathLongerThanTheLibraryTakesIsRefused) {
  // The decoder answers 1 without writing; the base name alone decides the bitmap path.
  sim().set_status(SIM_GET_BMP, 1);
  const std::size_t room = 511 - out(".bmp").size();  // a path of 511 characters fits
  for (std::size_t stem : {room, room + 1, room + 1500}) {
    EXPECT_EQ(SetPhotoData((std::string(stem, 'p') + ".wlt").c_str()), 1);
    EXPECT_EQ(get("GetPhotoBMP", 10).result, 0);
  }
  const Bytes bytes = testbed::read_file(log_path());
  const std::string log(bytes.begin(), bytes.end());
  auto bitmap = [&](std::size_t stem) { return out(std::string(stem, 'p') + ".bmp"); };
  // Looked for, and not found for the system's reason; refused without looking; the last
  // context is longer than the line's buffer and cut to it, time stamp and all.
  const std::string looked_for = "<" + bitmap(room) + ">" + message(1010);
  const std::string refused = "0<" + bitmap(room + 1) + ">" + message(1010);
  const std::string cut = ("0<" + bitmap(room + 1500)).substr(0, 1024) + "\r\n";
  const std::size_t first_end = log.find("\r\n");
  ASSERT_NE(first_end, std::string::npos);
  EXPECT_NE(log.substr(0, 2), "0<");
  EXPECT_NE(log.find(looked_for), std::string::npos);
  EXPECT_EQ(log.substr(first_end + 2, refused.size()), refused);
  ASSERT_GT(log.size(), cut.size());
  EXPECT_EQ(log.substr(log.size() - cut.size()), cut);
}

}  // namespace
}  // namespace vantrel_test
