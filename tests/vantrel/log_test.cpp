// The error log's size rule and hidden file, what the user is told when it fails, and on Windows
// the export table and the string-table resource of the DLL.
#include <algorithm>

#include "common/nation.h"
#include "tests/support/pe.h"
#include "tests/support/vantrel_fixture.h"

namespace vantrel_test {
namespace {

using Lines = std::vector<std::string>;

class ErrorLog : public VantrelTest {
 protected:
  // Any failure that is logged: the open of a port without a reader.
  void log_one_failure() {
    sim().set_reader_port(1002);
    EXPECT_EQ(InitComm(1001), 0);
  }
  std::string log_text() {
    const Bytes bytes = testbed::read_file(log_path());
    return std::string(bytes.begin(), bytes.end());
  }
  bool log_is_hidden() { return testbed::file_hidden(log_path()); }
};

TEST_F(ErrorLog, EmptiedOnlyWhenLargerThan4096Bytes) {
  const std::string line = entry(1002, 1, "_InitComm");
  ASSERT_TRUE(testbed::write_file(log_path(), Bytes(4096, 'x')));
  log_one_failure();
  const std::string kept = log_text();
  ASSERT_GT(kept.size(), 4096 + line.size());
  EXPECT_EQ(kept.substr(0, 4096), std::string(4096, 'x'));
  EXPECT_EQ(kept.substr(4096, line.size()), line);
  EXPECT_EQ(kept.substr(kept.size() - 2), "\r\n");

  unload_edition();
  plat::delete_file(log_path().c_str());
  ASSERT_TRUE(testbed::write_file(log_path(), Bytes(4097, 'x')));
  log_one_failure();
  EXPECT_EQ(log_lines(), (Lines{line}));
}

TEST_F(ErrorLog, HiddenFileThatOutgrowsTheLimitIsMadeAnew) {
  log_one_failure();
#if defined(_WIN32)
  EXPECT_TRUE(log_is_hidden());  // a new log is hidden
#endif
  {
    plat::File log = plat::open_file(log_path().c_str(), true, plat::Share::Read);
    ASSERT_TRUE(log.is_open());
    ASSERT_TRUE(log.seek_end());
    const std::string filler(4096, 'x');
    ASSERT_EQ(log.write(filler.data(), filler.size()), filler.size());
  }
  EXPECT_EQ(CloseComm(), 1);  // logs nothing
  sim().set_status(SIM_GET_SAM_STATUS, 0x60);
  sim().set_reader_port(1001);
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_EQ(log_lines(), (Lines{entry(1003, 0x60, "GetSAMStatus")}));
#if defined(_WIN32)
  EXPECT_TRUE(log_is_hidden());
#endif
}

TEST_F(ErrorLog, EntriesAccumulateAcrossLoads) {
  log_one_failure();
  unload_edition();
  log_one_failure();
  EXPECT_EQ(log_lines(), (Lines{entry(1002, 1, "_InitComm"), entry(1002, 1, "_InitComm")}));
}

#if !defined(_WIN32)
// A message box would wait for a user under Wine; natively it is a line on standard error.
TEST_F(ErrorLog, LogThatCannotBeOpenedIsReportedToTheUser) {
  const std::string caption = text({0xB4, 0xED, 0xCE, 0xF3, 0xD0, 0xC5, 0xCF, 0xA2});  // 错误信息
  const std::string cannot_open =  // 无法创建错误日志文件!
      text({0xCE, 0xDE, 0xB7, 0xA8, 0xB4, 0xB4, 0xBD, 0xA8, 0xB4, 0xED, 0xCE,
            0xF3, 0xC8, 0xD5, 0xD6, 0xBE, 0xCE, 0xC4, 0xBC, 0xFE, '!'});
  // Another handle holds the file without sharing it.
  {
    plat::File holder = plat::create_file(log_path().c_str(), plat::Share::None);
    ASSERT_TRUE(holder.is_open());
    ::testing::internal::CaptureStderr();
    log_one_failure();
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find(cannot_open), std::string::npos) << told;
    EXPECT_NE(told.find(caption), std::string::npos) << told;
  }
  EXPECT_TRUE(log_text().empty());  // the entry is lost
}
#endif

#if defined(_WIN32)
TEST(VantrelDll, ExportTable) {
  const testbed::pe::Image image =
      testbed::pe::read(testbed::library_path(testbed::kVantrelEdition));
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(image.machine, sizeof(void*) == 4 ? testbed::pe::kMachineI386 : testbed::pe::kMachineAmd64);
  EXPECT_EQ(image.export_name, "ridel.dll");
  const std::vector<testbed::pe::Export> expected = {
      {1, "Authenticate"},     {2, "CloseComm"},         {3, "InitComm"},
      {4, "Read_Content"},     {5, "GetPeopleName"},     {6, "GetPeopleSex"},
      {7, "GetPeopleNation"},  {8, "GetPeopleBirthday"}, {9, "GetPeopleAddress"},
      {10, "GetPeopleIDCode"}, {11, "GetDepartment"},    {12, "GetStartDate"},
      {13, "GetEndDate"},      {14, "GetReserve"},       {15, "GetPhotoBMP"},
      {16, "GetAppAddress"},   {17, "SetBaseData"},      {18, "SetPhotoData"},
      {19, "SetAppAddress"},   {21, "ReadMngInfo"},      {22, "GetSAMIDToStr"}};
  EXPECT_EQ(image.exports, expected);
  // The driver and decoder are bound at run time, never imported.
  for (const auto& [library, names] : image.imports) {
    std::string lower = library;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_TRUE(lower == "kernel32.dll" || lower == "user32.dll" || lower == "msvcrt.dll")
        << library;
  }
  EXPECT_NE(std::find(image.resource_types.begin(), image.resource_types.end(),
                      testbed::pe::kResourceString),
            image.resource_types.end());
}

class StringTable : public VantrelTest {
 protected:
  std::string load(unsigned id) {
    edition();
    char buf[256];
    const int n = plat::load_string(plat::find_loaded_module("ridel.dll"), {}, id, buf, sizeof buf);
    return std::string(buf, static_cast<std::size_t>(std::max(n, 0)));
  }
};

TEST_F(StringTable, FileNamesAndMessages) {
  const char* const files[] = {"ridel.dll",  "sdtapi.dll", "WltRS.dll",    "WZ.txt",
                               "XP.wlt",     "ZP.wlt",     "ZP.bmp",       "IINSNDN.Bin",
                               "NEWADD.txt", "stdapi.dll", "idcrerror.log"};
  for (unsigned id = 0; id <= 10; ++id) EXPECT_EQ(load(id), files[id]) << id;
  EXPECT_EQ(load(1), drv::kUsbDriverFile);
  EXPECT_EQ(load(9), drv::kSerialDriverFile);
  EXPECT_EQ(load(2), drv::kDecoderFile);
  for (int id : {101, 102, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012,
                 1013, 1014})
    EXPECT_EQ(load(id), message(id)) << id;
}

TEST_F(StringTable, NationAndSexNames) {
  for (int code = 0; code <= 99; ++code) {
    std::string expected = nation::qdx_name(code);
    if (code == 36) expected = text({0xC3, 0xAB, 0xC4, 0xD1});
    if (code == 98) expected = text({0xCD, 0xE2, 0xB9, 0xFA, 0xD1, 0xAA, 0xCD, 0xB3});
    EXPECT_EQ(load(2000 + code), expected) << code;
  }
  EXPECT_EQ(load(3000), text({0xCE, 0xB4, 0xD6, 0xAA}));
  EXPECT_EQ(load(3001), text({0xC4, 0xD0}));
  EXPECT_EQ(load(3002), text({0xC5, 0xAE}));
  EXPECT_EQ(load(3009), text({0xCE, 0xB4, 0xC3, 0xF7}));
  for (unsigned id : {3003u, 3008u, 3010u}) EXPECT_EQ(load(id), "") << id;
}
#endif

}  // namespace
}  // namespace vantrel_test
