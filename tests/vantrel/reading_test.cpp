// Read_Content's modes, the result files, the photo decoding step and the store's clearing rules.
#include <filesystem>

#include "tests/support/vantrel_fixture.h"

namespace vantrel_test {
namespace {

using Lines = std::vector<std::string>;
constexpr std::size_t kBitmapBytes = 38862;  // what the simulated decoder writes

Bytes test_photo() {
  Bytes photo(drv::kPhotoBytes);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<unsigned char>(i * 7);
  return photo;
}

class Reading : public VantrelTest {
 protected:
  void SetUp() override {
    VantrelTest::SetUp();
    sim().set_record(SIM_REC_IDENTITY, test_card().bytes());
    sim().set_record(SIM_REC_PHOTO, test_photo());
    sim().set_record(SIM_REC_APPENDED_ADDRESS, test_appended_address());
  }
  // Puts a card into the store that no driver read delivers.
  void store_other_card() {
    ASSERT_EQ(set_base_data(testbed::IdentityRecord().set(rec::Field::Name, u"Li").bytes()), 1);
  }
  std::string name() { return get("GetPeopleName", 30).bytes.substr(0, 2); }
};

TEST_F(Reading, FullReadWritesTheFilesAndFillsTheStore) {
  ASSERT_EQ(InitComm(1001), 1);
  ASSERT_EQ(Authenticate(), 1);
  sim().clear_journal();
  ASSERT_EQ(Read_Content(1), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_ReadBaseMsg(1001, 0)", "sdtapi SDT_ReadNewAppMsg(1001, 0)",
                   "sdtapi SDT_ClosePort(1001)", "WltRS GetBmp(" + out("ZP.wlt") + ", 2)",
                   "sdtapi SDT_OpenPort(1001)"}));
  EXPECT_EQ(read("WZ.txt"), test_card().bytes());  // the record as delivered, UCS-2
  EXPECT_EQ(read("XP.wlt"), test_photo());
  EXPECT_EQ(read("ZP.wlt"), test_photo());
  const Bytes bitmap = read("ZP.bmp");  // stays after the read
  ASSERT_EQ(bitmap.size(), kBitmapBytes);
  EXPECT_FALSE(exists("NEWADD.txt"));
  EXPECT_FALSE(exists("IINSNDN.Bin"));

  EXPECT_EQ(get("GetPeopleName", 18).bytes, kName + '\0');
  EXPECT_EQ(get("GetPeopleSex", 2).bytes, text({0xC4, 0xD0}));     // 男
  EXPECT_EQ(get("GetPeopleNation", 2).bytes, text({0xBA, 0xBA}));  // 汉
  EXPECT_EQ(get("GetPeopleBirthday", 8).bytes, kBirth);
  EXPECT_EQ(get("GetStartDate", 8).bytes, kValidFrom);
  EXPECT_EQ(get("GetEndDate", 8).bytes, kValidTo);
  EXPECT_EQ(get("GetAppAddress", 7).bytes, kAppendedAddressText + '\0');
  const Got photo = get("GetPhotoBMP", static_cast<int>(kBitmapBytes));
  EXPECT_EQ(photo.result, static_cast<int>(kBitmapBytes));
  EXPECT_EQ(photo.bytes, std::string(bitmap.begin(), bitmap.end()));
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

TEST_F(Reading, SerialPortDecodesWithSelectorOne) {
  sim().set_reader_port(3);
  ASSERT_EQ(InitComm(3), 1);
  sim().clear_journal();
  ASSERT_EQ(Read_Content(1), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"stdapi SDT_ReadBaseMsg(3, 0)", "stdapi SDT_ReadNewAppMsg(3, 0)",
                   "stdapi SDT_ClosePort(3)", "WltRS GetBmp(" + out("ZP.wlt") + ", 1)",
                   "stdapi SDT_OpenPort(3)"}));
}

TEST_F(Reading, NoPortOpenReadsNothingAndKeepsTheStore) {
  store_other_card();
  for (int mode : {1, 2, 3, 4, 5}) EXPECT_EQ(Read_Content(mode), 0) << mode;
  EXPECT_EQ(name(), "Li");
  EXPECT_TRUE(sim().journal_lines().empty());
  EXPECT_FALSE(exists("WZ.txt"));
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

TEST_F(Reading, UnknownModesClearTheStoreSilently) {
  ASSERT_EQ(InitComm(1001), 1);
  for (int mode : {0, 4, 6, 7, -1}) {
    store_other_card();
    sim().clear_journal();
    EXPECT_EQ(Read_Content(mode), 0) << mode;
    EXPECT_EQ(get("GetPeopleName", 30).result, 0) << mode;
    EXPECT_TRUE(sim().journal_lines().empty()) << mode;
  }
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

// A driver failure in each mode: its log entry, result 0 and an empty store.
struct FailureCase {
  int mode;
  int entry;
  int message;
  const char* context;
};

class ReadFailure : public Reading, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ReadFailure, LogsClearsTheStoreAndReturnsZero) {
  const FailureCase& c = GetParam();
  ASSERT_EQ(InitComm(1001), 1);
  store_other_card();
  sim().set_status(c.entry, 0x41);
  EXPECT_EQ(Read_Content(c.mode), 0);
  EXPECT_EQ(get("GetPeopleName", 30).result, 0);
  EXPECT_EQ(log_lines(), (Lines{entry(c.message, 0x41, c.context)}));
  EXPECT_EQ(sim().count(SIM_GET_BMP), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReadFailure,
    ::testing::Values(FailureCase{1, SIM_READ_BASE_MSG, 1006, "ReadContent1"},
                      FailureCase{1, SIM_READ_NEW_APP_MSG, 1008, "ReadContent1"},
                      FailureCase{2, SIM_READ_BASE_MSG, 1006, "ReadContent2"},
                      FailureCase{3, SIM_READ_NEW_APP_MSG, 1008, "ReadContent3"},
                      FailureCase{5, SIM_READ_MNG_INFO, 1009, "ReadContent5"}));

TEST_F(Reading, AppendedAddressFailureComesAfterTheRawFiles) {
  ASSERT_EQ(InitComm(1001), 1);
  sim().set_status(SIM_READ_NEW_APP_MSG, 0x41);
  EXPECT_EQ(Read_Content(1), 0);
  EXPECT_EQ(read("WZ.txt"), test_card().bytes());
  EXPECT_EQ(read("ZP.wlt"), test_photo());
}

TEST_F(Reading, DecoderFailureIsReturnedAndKeepsTheStoreUnlessZero) {
  ASSERT_EQ(InitComm(1001), 1);
  store_other_card();
  sim().set_decoder_result(-1);
  EXPECT_EQ(Read_Content(1), -1);
  EXPECT_EQ(read("WZ.txt"), test_card().bytes());
  EXPECT_EQ(read("XP.wlt"), test_photo());
  EXPECT_EQ(read("ZP.wlt"), test_photo());
  EXPECT_FALSE(exists("ZP.bmp"));
  EXPECT_EQ(name(), "Li");
  // The port was reopened after the decoder.
  EXPECT_EQ(sim().journal_lines(SIM_OPEN_PORT).back(), "sdtapi SDT_OpenPort(1001)");
  sim().set_decoder_result(0);
  EXPECT_EQ(Read_Content(1), 0);
  EXPECT_EQ(get("GetPeopleName", 30).result, 0);
  EXPECT_EQ(log_lines(), (Lines{entry(1007, -1, ""), entry(1007, 0, "")}));
}

TEST_F(Reading, RawBaseMessageLeavesTheStore) {
  ASSERT_EQ(InitComm(1001), 1);
  store_other_card();
  EXPECT_EQ(Read_Content(2), 1);
  EXPECT_EQ(read("WZ.txt"), test_card().bytes());
  EXPECT_EQ(read("XP.wlt"), test_photo());
  EXPECT_FALSE(exists("ZP.wlt"));
  EXPECT_EQ(sim().count(SIM_GET_BMP), 0);
  EXPECT_EQ(name(), "Li");
}

TEST_F(Reading, AppendedAddressAndManagementInfoFiles) {
  read_test_card();
  Bytes info(28);
  for (int i = 0; i < 28; ++i) info[i] = static_cast<unsigned char>(i + 1);
  sim().set_record(SIM_REC_MNG_INFO, info);
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_EQ(read("NEWADD.txt"), test_appended_address());
  EXPECT_EQ(Read_Content(5), 1);
  EXPECT_EQ(read("IINSNDN.Bin"), info);
  // Successful reads of other modes keep the card.
  EXPECT_EQ(get("GetPeopleName", 30).bytes, kName + std::string(13, '\0'));
  // No appended address (0x91, 0 bytes): an empty file, still success.
  sim().set_record(SIM_REC_APPENDED_ADDRESS, {});
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_TRUE(exists("NEWADD.txt"));
  EXPECT_TRUE(read("NEWADD.txt").empty());
}

TEST_F(Reading, FullReadWithoutAppendedAddress) {
  sim().set_record(SIM_REC_APPENDED_ADDRESS, {});
  ASSERT_EQ(InitComm(1001), 1);
  ASSERT_EQ(Read_Content(1), 1);
  EXPECT_EQ(get("GetAppAddress", 70).result, 0);
  EXPECT_EQ(get("GetPeopleIDCode", 18).bytes, kIdNumber);
}

TEST_F(Reading, ShortRecordKeepsTheEarlierFieldsButRenewsThePhoto) {
  ASSERT_EQ(InitComm(1001), 1);
  store_other_card();
  sim().set_reported_length(SIM_REC_IDENTITY, 255);
  EXPECT_EQ(Read_Content(1), 1);
  EXPECT_EQ(read("WZ.txt").size(), 255u);
  EXPECT_EQ(name(), "Li");
  EXPECT_EQ(get("GetPhotoBMP", static_cast<int>(kBitmapBytes)).result,
            static_cast<int>(kBitmapBytes));
  EXPECT_EQ(get("GetAppAddress", 7).result, 6);
}

TEST_F(Reading, DriverReportedLengthsAreBoundedByTheBuffers) {
  ASSERT_EQ(InitComm(1001), 1);
  sim().set_reported_length(SIM_REC_IDENTITY, 100000);
  sim().set_reported_length(SIM_REC_PHOTO, 0xFFFFFFFFu);
  sim().set_reported_length(SIM_REC_APPENDED_ADDRESS, 5000);
  EXPECT_EQ(Read_Content(2), 1);
  EXPECT_EQ(read("WZ.txt").size(), 257u);
  EXPECT_EQ(read("XP.wlt").size(), 1025u);
  EXPECT_EQ(Read_Content(3), 1);
  EXPECT_EQ(read("NEWADD.txt"), test_appended_address());
  EXPECT_EQ(Read_Content(1), 1);
  EXPECT_EQ(get("GetPeopleBirthday", 8).bytes, kBirth);
}

TEST_F(Reading, ResultFileThatCannotBeMade) {
  namespace fs = std::filesystem;
  ASSERT_EQ(InitComm(1001), 1);
  store_other_card();
  // A folder where the file should go.
  for (const char* name : {"WZ.txt", "ZP.wlt"}) {
    ASSERT_TRUE(fs::create_directory(out(name)));
    EXPECT_EQ(Read_Content(1), 0) << name;
    fs::remove(out(name));
  }
  EXPECT_EQ(get("GetPeopleName", 30).result, 0);
  const Lines log = log_lines();
  ASSERT_EQ(log.size(), 2u);
  for (std::size_t i = 0; i < log.size(); ++i) {
    const std::string path = out(i == 0 ? "WZ.txt" : "ZP.wlt");
    const std::string tail = "<" + path + ">" + message(1010);
    ASSERT_GT(log[i].size(), tail.size());
    EXPECT_EQ(log[i].substr(log[i].size() - tail.size()), tail);
    EXPECT_NE(log[i].substr(0, log[i].size() - tail.size()), "0");  // the system's reason
  }
  EXPECT_EQ(sim().count(SIM_READ_NEW_APP_MSG), 0);  // both failed before it
}

}  // namespace
}  // namespace vantrel_test
