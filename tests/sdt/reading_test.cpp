// Card selection and the five read types: results, field conversion and result files.
#include <string>
#include <vector>

#include "tests/support/sdt_fixture.h"

namespace sdt_test {
namespace {

using testbed::Bytes;
using testbed::IdentityRecord;
using testbed::text;
using rec::Field;
using Lines = std::vector<std::string>;

const char* const kCrLf = "\r\n";
const char* const kLf = "\n";

// wx.txt of the test card, with `appended` as its last line.
Bytes test_card_lines(const char* line_end, const std::string& appended = "") {
  using namespace expect;
  return testbed::bytes(lines({kName, kFemale, kNation, kBirth, kAddress, kIdNumber, kAuthority,
                             kValidFrom, kValidTo, appended},
                            line_end));
}

// wx.txt of a card without any value: sex unknown, the dates nothing but dashes.
Bytes empty_card_lines(const char* line_end) {
  return testbed::bytes(
      lines({"", expect::kUnknown, "", "--", "", "", "", "--", "--", ""}, line_end));
}

class Reading : public SdtTest {
 protected:
  // The GetBmp call of a read type 1 on a USB port.
  std::string decoder_line() const { return "WltRS GetBmp(" + out("zp.wlt") + ", 2)"; }
};

TEST_F(Reading, ReaderOnPort1003GivesTheCardThroughGettersAndFiles) {
  sim().set_reader_port(1003);
  ASSERT_EQ(open_comm(3), RIDEL_SDT_OK);
  EXPECT_EQ(select_card(), RIDEL_SDT_OK);
  EXPECT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetSex"), expect::kMale);  // the simulator's sample card
  EXPECT_EQ(get("GetFolk"), expect::kHanZu);
  EXPECT_EQ(get("GetBirth"), "1988-08-08");
  for (const char* file : {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp"})
    EXPECT_TRUE(exists(file)) << file;
  EXPECT_EQ(get("GetPicPath"), out("zp.bmp"));
  EXPECT_EQ(sim().journal_lines(SIM_READ_BASE_MSG), Lines{"sdtapi SDT_ReadBaseMsg(1003, 1)"});
  EXPECT_EQ(sim().journal_lines(SIM_GET_BMP), Lines{decoder_line()});
}

TEST_F(Reading, SelectCardResults) {
  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
  struct Case {
    int find, select;  // SIM_NO_STATUS: the driver's own answer
    int result;
    bool selects;
  } cases[] = {
      {SIM_NO_STATUS, SIM_NO_STATUS, RIDEL_SDT_OK, true},
      {drv::kFindNothing, SIM_NO_STATUS, RIDEL_SDT_NONE, false},
      {drv::kStatusOne, SIM_NO_STATUS, RIDEL_SDT_DRIVER_FAILED, false},
      {drv::kOk, SIM_NO_STATUS, drv::kOk, false},  // only 0x9F means found
      {0x41, SIM_NO_STATUS, 0x41, false},
      {SIM_NO_STATUS, drv::kStatusOne, RIDEL_SDT_DRIVER_FAILED, true},
      {SIM_NO_STATUS, drv::kCardFound, drv::kCardFound, true},
  };
  for (const Case& c : cases) {
    sim().clear_journal();
    sim().set_status(SIM_START_FIND_ID_CARD, c.find);
    sim().set_status(SIM_SELECT_ID_CARD, c.select);
    EXPECT_EQ(select_card(), c.result) << c.find << " " << c.select;
    Lines expected{"sdtapi SDT_StartFindIDCard(1001, 1)"};
    if (c.selects) expected.push_back("sdtapi SDT_SelectIDCard(1001, 1)");
    EXPECT_EQ(sim().journal_lines(), expected) << c.find << " " << c.select;
  }
}

TEST_F(Reading, UnknownReadTypeDoesNothing) {
  open_and_select(test_card());
  sim().clear_journal();
  for (int type : {0, 6, -1}) EXPECT_EQ(read_info(type), RIDEL_SDT_NONE) << type;
  EXPECT_TRUE(sim().journal_lines().empty());
  EXPECT_FALSE(exists("wx.txt"));
  EXPECT_EQ(get("GetName"), "");
}

TEST_F(Reading, BaseReadTypesWriteTheirFiles) {
  struct Case {
    int type;
    const char* line_end;
    bool photo, bitmap;
  } cases[] = {{RIDEL_SDT_READ_WITH_BITMAP, kCrLf, true, true},
               {RIDEL_SDT_READ_TEXT, kLf, false, false},
               {RIDEL_SDT_READ_WITH_PHOTO, kCrLf, true, false}};
  const Bytes picture = photo(3);
  sim().set_record(SIM_REC_PHOTO, picture);
  open_and_select(test_card());
  for (const Case& c : cases) {
    remove_result_files();
    sim().clear_journal();
    ASSERT_EQ(read_info(c.type), RIDEL_SDT_OK) << c.type;
    EXPECT_EQ(read("wx.txt"), test_card_lines(c.line_end)) << c.type;
    EXPECT_EQ(read("wz.txt"), test_card().bytes()) << c.type;
    EXPECT_EQ(read("zp.wlt"), c.photo ? picture : Bytes()) << c.type;
    EXPECT_EQ(read("pic.wlt"), c.photo ? picture : Bytes()) << c.type;
    EXPECT_EQ(exists("zp.bmp"), c.bitmap) << c.type;
    EXPECT_EQ(sim().journal_lines(SIM_GET_BMP), c.bitmap ? Lines{decoder_line()} : Lines{});
  }
}

TEST_F(Reading, FieldConversion) {
  const std::string kZu = text({0xD7, 0xE5});
  struct Case {
    Field field;
    std::u16string value;
    const char* getter;
    std::string expected;
  } cases[] = {
      {Field::Sex, u"1", "GetSex", expect::kMale},
      {Field::Sex, u"9", "GetSex", expect::kUnknown},
      {Field::Nation, u"01", "GetFolk", expect::kHanZu},
      {Field::Nation, u"56", "GetFolk", text({0xBB, 0xF9, 0xC5, 0xB5}) + kZu},  // 基诺族
      {Field::Nation, u" 3", "GetFolk", text({0xBB, 0xD8}) + kZu},              // 回族
      {Field::Nation, u"00", "GetFolk", ""},
      {Field::Nation, u"57", "GetFolk", ""},
      {Field::Nation, u"97", "GetFolk", ""},
      {Field::Nation, u"-1", "GetFolk", ""},
      {Field::Nation, u"xx", "GetFolk", ""},
      {Field::Birth, u"20350101", "GetBirth", "2035-01-01"},
      {Field::ValidFrom, u"201501", "GetBegin", "2015-01-"},
      {Field::ValidTo, u"2015", "GetEnd", "2015--"},
      {Field::ValidTo, u"", "GetEnd", "--"},
      {Field::ValidTo, u"2015 01", "GetEnd", "2015- 0-1"},
      {Field::Name, u"  A B  ", "GetName", "  A B"},  // only trailing white space goes
  };
  for (const Case& c : cases) {
    open_and_select(test_card().set(c.field, c.value));
    ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
    EXPECT_EQ(get(c.getter), c.expected) << c.getter << " " << c.expected;
  }
}

TEST_F(Reading, DriverReadFailuresChangeNothing) {
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  remove_result_files();
  sim().set_record(SIM_REC_IDENTITY, IdentityRecord().set(Field::Name, u"Other").bytes());
  struct Case {
    int type, entry, status, result;
  } cases[] = {
      {RIDEL_SDT_READ_WITH_BITMAP, SIM_READ_BASE_MSG, drv::kStatusOne, RIDEL_SDT_DRIVER_FAILED},
      {RIDEL_SDT_READ_TEXT, SIM_READ_BASE_MSG, SIM_STATUS_NO_CARD, SIM_STATUS_NO_CARD},
      {RIDEL_SDT_READ_WITH_PHOTO, SIM_READ_BASE_MSG, drv::kCardFound, drv::kCardFound},
      {RIDEL_SDT_READ_APPENDED_ADDRESS, SIM_READ_NEW_APP_MSG, drv::kNoAppendedAddress,
       drv::kNoAppendedAddress},
      {RIDEL_SDT_READ_APPENDED_ADDRESS, SIM_READ_NEW_APP_MSG, drv::kStatusOne,
       RIDEL_SDT_DRIVER_FAILED},
      {RIDEL_SDT_READ_MANAGEMENT_INFO, SIM_READ_MNG_INFO, drv::kStatusOne,
       RIDEL_SDT_DRIVER_FAILED},
      {RIDEL_SDT_READ_MANAGEMENT_INFO, SIM_READ_MNG_INFO, 0x41, 0x41},
  };
  for (const Case& c : cases) {
    sim().queue_status(c.entry, c.status);
    EXPECT_EQ(read_info(c.type), c.result) << c.type << " " << c.status;
  }
  EXPECT_EQ(get("GetName"), expect::kName);
  EXPECT_EQ(get("GetNewAddr"), kAppendedAddressGbk);
  for (const char* file : {"wx.txt", "wz.txt", "zp.wlt", "NewAdd.txt", "NewAdd1.txt"})
    EXPECT_FALSE(exists(file)) << file;
}

TEST_F(Reading, ReadsBeforeOpenCommGoToPortZero) {
  EXPECT_EQ(select_card(), RIDEL_SDT_DRIVER_FAILED);
  EXPECT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_DRIVER_FAILED);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_StartFindIDCard(0, 1)", "sdtapi SDT_ReadBaseMsg(0, 1)"}));
}

TEST_F(Reading, DecoderResults) {
  struct Case {
    int decoded, result;
  } cases[] = {{1, RIDEL_SDT_OK}, {-1, -1}, {-3, -3}, {-6, -6}, {0, RIDEL_SDT_DECODE_FAILED},
               {7, RIDEL_SDT_DECODE_FAILED}, {-7, RIDEL_SDT_DECODE_FAILED}};
  open_and_select(test_card());
  for (const Case& c : cases) {
    remove_result_files();
    sim().set_decoder_result(c.decoded);
    EXPECT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), c.result) << c.decoded;
    EXPECT_EQ(get("GetPicPath"), c.decoded == 1 ? out("zp.bmp") : "") << c.decoded;
    // The files before the decoder are written whatever it answers.
    for (const char* file : {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt"})
      EXPECT_TRUE(exists(file)) << file << " " << c.decoded;
  }
}

TEST_F(Reading, SerialPortSelectsDecoderInterfaceOne) {
  // A driver that claims port 3 and a read on it that succeeds without writing anything.
  sim().set_reader_port(7);
  sim().set_status(SIM_OPEN_PORT, drv::kOk, 3);
  sim().set_status(SIM_READ_BASE_MSG, drv::kOk, 3);
  ASSERT_EQ(open_comm(3), RIDEL_SDT_OK);
  EXPECT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(SIM_GET_BMP), Lines{"WltRS GetBmp(" + out("zp.wlt") + ", 1)"});
  // Nothing reported, nothing written: empty raw files, empty values.
  EXPECT_TRUE(exists("wz.txt"));
  EXPECT_TRUE(read("wz.txt").empty());
  EXPECT_EQ(read("wx.txt"), empty_card_lines(kCrLf));
}

TEST_F(Reading, RawFilesTakeTheReportedLengthsBoundedByTheBuffers) {
  const Bytes picture = photo(9);
  sim().set_record(SIM_REC_PHOTO, picture);
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  sim().set_reported_length(SIM_REC_IDENTITY, 5000);
  sim().set_reported_length(SIM_REC_PHOTO, 0xFFFFFFFFu);
  sim().set_reported_length(SIM_REC_APPENDED_ADDRESS, 100000);
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_PHOTO), RIDEL_SDT_OK);
  auto padded = [](Bytes bytes, std::size_t size) {
    bytes.resize(size, 0);
    return bytes;
  };
  EXPECT_EQ(read("wz.txt"), padded(test_card().bytes(), 1024));
  EXPECT_EQ(read("zp.wlt"), padded(picture, 2048));
  EXPECT_EQ(read("pic.wlt"), padded(picture, 2048));
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  EXPECT_EQ(read("NewAdd.txt"), padded(appended_message(kAppendedAddress), 2048));

  // Short lengths cut the raw files; the fields still come from the record the driver wrote.
  sim().set_reported_length(SIM_REC_IDENTITY, 100);
  sim().set_reported_length(SIM_REC_PHOTO, 10);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_PHOTO), RIDEL_SDT_OK);
  const Bytes card = test_card().bytes();
  EXPECT_EQ(read("wz.txt"), Bytes(card.begin(), card.begin() + 100));
  EXPECT_EQ(read("zp.wlt"), Bytes(picture.begin(), picture.begin() + 10));
  EXPECT_EQ(get("GetEnd"), expect::kValidTo);
}

TEST_F(Reading, AppendedAddressFiles) {
  const Bytes message = appended_message(kAppendedAddress);
  sim().set_record(SIM_REC_APPENDED_ADDRESS, message);
  open_and_select(test_card());
  sim().clear_journal();
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi SDT_ReadNewAppMsg(1001, 1)"});
  EXPECT_EQ(read("NewAdd.txt"), message);
  EXPECT_EQ(read("NewAdd1.txt"), testbed::bytes(kAppendedAddressGbk));
  EXPECT_EQ(get("GetNewAddr"), kAppendedAddressGbk);
  EXPECT_FALSE(exists("wx.txt"));

  // Three characters without blanks or terminator: what the read before left in the message
  // buffer must not reappear in the address.
  sim().set_record(SIM_REC_APPENDED_ADDRESS, testbed::ucs2(u"ABC"));
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetNewAddr"), "ABC");
  EXPECT_EQ(read("NewAdd1.txt"), testbed::bytes("ABC"));
  EXPECT_EQ(read("NewAdd.txt"), testbed::ucs2(u"ABC"));
}

TEST_F(Reading, ManagementInformationIsOnlyChecked) {
  open_and_select(test_card());
  sim().clear_journal();
  EXPECT_EQ(read_info(RIDEL_SDT_READ_MANAGEMENT_INFO), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi SDT_ReadMngInfo(1001, 1)"});
  EXPECT_FALSE(exists("wx.txt"));
  EXPECT_EQ(get("GetName"), "");
}

TEST_F(Reading, FilesThatCannotBeCreated) {
  const std::vector<std::string> none;
  struct Case {
    std::vector<std::string> held;
    int type, result;
    std::vector<std::string> written, not_written;
  } cases[] = {
      {{"wz.txt"}, RIDEL_SDT_READ_WITH_BITMAP, RIDEL_SDT_FILE_FAILED, {"wx.txt"}, {"zp.wlt"}},
      {{"wz.txt"}, RIDEL_SDT_READ_TEXT, RIDEL_SDT_FILE_FAILED, {"wx.txt"}, none},
      {{"wz.txt"}, RIDEL_SDT_READ_WITH_PHOTO, RIDEL_SDT_FILE_FAILED, {"wx.txt"}, {"zp.wlt"}},
      {{"zp.wlt"}, RIDEL_SDT_READ_WITH_BITMAP, RIDEL_SDT_FILE_FAILED, {"wz.txt"}, {"pic.wlt"}},
      {{"zp.wlt"}, RIDEL_SDT_READ_WITH_PHOTO, RIDEL_SDT_FILE_FAILED, {"wz.txt"}, {"pic.wlt"}},
      {{"zp.wlt"}, RIDEL_SDT_READ_TEXT, RIDEL_SDT_OK, {"wx.txt", "wz.txt"}, none},
      {{"wx.txt", "pic.wlt"}, RIDEL_SDT_READ_WITH_BITMAP, RIDEL_SDT_OK, {"wz.txt", "zp.bmp"},
       none},
      {{"NewAdd.txt"}, RIDEL_SDT_READ_APPENDED_ADDRESS, RIDEL_SDT_FILE_FAILED, {"NewAdd1.txt"},
       none},
      {{"NewAdd1.txt"}, RIDEL_SDT_READ_APPENDED_ADDRESS, RIDEL_SDT_OK, {"NewAdd.txt"}, none},
  };
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  for (const Case& c : cases) {
    const std::string label = c.held.front() + " " + std::to_string(c.type);
    open_and_select(IdentityRecord().set(Field::Name, u"A"));
    ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
    remove_result_files();
    sim().clear_journal();
    sim().set_record(SIM_REC_IDENTITY, test_card().bytes());
    {
      std::vector<plat::File> held;
      for (const std::string& name : c.held) held.push_back(hold(out(name)));
      EXPECT_EQ(read_info(c.type), c.result) << label;
    }
    for (const std::string& name : c.held) EXPECT_TRUE(read(name).empty()) << label << " " << name;
    for (const std::string& name : c.written) EXPECT_TRUE(exists(name)) << label << " " << name;
    for (const std::string& name : c.not_written)
      EXPECT_FALSE(exists(name)) << label << " " << name;
    // The new values are stored before any file is written.
    if (c.type == RIDEL_SDT_READ_APPENDED_ADDRESS) {
      EXPECT_EQ(get("GetNewAddr"), kAppendedAddressGbk) << label;
    } else {
      EXPECT_EQ(get("GetName"), expect::kName) << label;
    }
    // The decoder is reached only when both required files were written.
    EXPECT_EQ(sim().count(SIM_GET_BMP),
              c.type == RIDEL_SDT_READ_WITH_BITMAP && c.result == RIDEL_SDT_OK ? 1 : 0)
        << label;
  }
}

TEST_F(Reading, ExistingFilesAreReplaced) {
  ASSERT_TRUE(testbed::write_file(out("wz.txt"), Bytes(4000, 'x')));
  ASSERT_TRUE(testbed::write_file(out("wx.txt"), Bytes(4000, 'x')));
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  EXPECT_EQ(read("wz.txt"), test_card().bytes());
  EXPECT_EQ(read("wx.txt"), test_card_lines(kLf));
}

// ---- What stays in the field store --------------------------------------------------------------

TEST_F(Reading, PhotoPathChangesOnlyWithReadTypeOne) {
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  sim().set_record(SIM_REC_PHOTO, photo(8));
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_PHOTO), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetPicPath"), out("zp.bmp"));
  EXPECT_EQ(read("zp.wlt"), photo(8));  // the new photo, not yet decoded

  sim().set_decoder_result(0);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_DECODE_FAILED);
  sim().set_decoder_result(1);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_PHOTO), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetPicPath"), "");
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_BITMAP), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetPicPath"), out("zp.bmp"));
}

TEST_F(Reading, AppendedAddressStaysInLaterFieldFiles) {
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  EXPECT_EQ(get("GetNewAddr"), "");  // base reads never fill it
  sim().set_record(SIM_REC_APPENDED_ADDRESS, appended_message(kAppendedAddress));
  ASSERT_EQ(read_info(RIDEL_SDT_READ_APPENDED_ADDRESS), RIDEL_SDT_OK);
  ASSERT_EQ(read_info(RIDEL_SDT_READ_WITH_PHOTO), RIDEL_SDT_OK);
  EXPECT_EQ(read("wx.txt"), test_card_lines(kCrLf, kAppendedAddressGbk));
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  EXPECT_EQ(read("wx.txt"), test_card_lines(kLf, kAppendedAddressGbk));
}

TEST_F(Reading, NextCardReplacesEveryCardValue) {
  open_and_select(test_card());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  sim().set_record(SIM_REC_IDENTITY, IdentityRecord().bytes());
  ASSERT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_OK);
  EXPECT_EQ(read("wx.txt"), empty_card_lines(kLf));
}

}  // namespace
}  // namespace sdt_test
