// Set-up, the driver family switch, InitComm, CloseComm, Authenticate and the pass-throughs.
#include <cstring>

#include "tests/support/vantrel_fixture.h"

namespace vantrel_test {
namespace {

using Lines = std::vector<std::string>;

class Session : public VantrelTest {};

TEST_F(Session, SetUpBindsTheUsbDriverAndLogsNothing) {
  EXPECT_EQ(InitComm(1001), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)"}));
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

TEST_F(Session, MissingUsbDriverAtSetUpIsLoggedAndLoadedByALaterOpen) {
  sim().unload(SIM_LIB_SDTAPI);
  edition();
  Lines log = log_lines();
  ASSERT_EQ(log.size(), 1u);
  // The code is the system's reason, in decimal.
  const std::string tail = "<LoadLibrary>" + message(1012);
  ASSERT_GT(log[0].size(), tail.size());
  EXPECT_EQ(log[0].substr(log[0].size() - tail.size()), tail);
  EXPECT_NE(log[0].find_first_not_of("0123456789"), 0u);
#if defined(_WIN32)
  EXPECT_EQ(log[0], entry(1012, 126, "LoadLibrary"));  // the module was not found
#endif
  // Still missing: no driver to open the port with.
  EXPECT_EQ(InitComm(1001), 0);
  // Installed now: the next open loads it.
  sim().load(SIM_LIB_SDTAPI);
  EXPECT_EQ(InitComm(1001), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)"}));
  log = log_lines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], entry(1001, 0, "_InitComm"));
}

TEST_F(Session, MissingDecoderAtSetUpLeavesTheDriverUnbound) {
  sim().unload(SIM_LIB_WLTRS);
  edition();
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_TRUE(sim().journal_lines().empty());
  const Lines log = log_lines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("<LoadLibrary>" + message(1013)), std::string::npos);
  EXPECT_EQ(log[1], entry(1002, 0, "_InitComm"));
  // A serial port switches the driver and binds it afresh.
  sim().set_reader_port(3);
  EXPECT_EQ(InitComm(3), 1);
}

// Each case opens `first` (none for 0), then `second`, and names the driver library of every
// call made for the second open.
struct SwitchCase {
  const char* name;
  int first;
  bool close_first;  // CloseComm between the two
  int second;
  Lines calls;
  int result;
};

class DriverSwitch : public VantrelTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(DriverSwitch, UsesTheDriverOfThePortFamily) {
  const SwitchCase& c = GetParam();
  sim().set_reader_port(c.first);
  if (c.first) {
    ASSERT_EQ(InitComm(c.first), 1);
  }
  if (c.close_first) {
    ASSERT_EQ(CloseComm(), 1);
  }
  sim().set_reader_port(c.second);
  sim().clear_journal();
  EXPECT_EQ(InitComm(c.second), c.result);
  EXPECT_EQ(sim().journal_lines(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, DriverSwitch,
    ::testing::Values(
        SwitchCase{"UsbAfterSetUp", 0, false, 1001,
                   {"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)"}, 1},
        SwitchCase{"SerialAfterSetUp", 0, false, 3,
                   {"stdapi SDT_OpenPort(3)", "stdapi SDT_GetSAMStatus(3, 0)"}, 1},
        // 990 lies within 16 of the no-port value 1000: the USB driver stays, and cannot open it.
        SwitchCase{"NearNoPortKeepsUsb", 0, false, 990, {"sdtapi SDT_OpenPort(990)"}, 0},
        SwitchCase{"UsbToUsb", 1001, false, 1010,
                   {"sdtapi SDT_ClosePort(1001)", "sdtapi SDT_OpenPort(1010)",
                    "sdtapi SDT_GetSAMStatus(1010, 0)"},
                   1},
        SwitchCase{"UsbToSerial", 1001, false, 5,
                   {"sdtapi SDT_ClosePort(1001)", "stdapi SDT_OpenPort(5)",
                    "stdapi SDT_GetSAMStatus(5, 0)"},
                   1},
        SwitchCase{"SerialWithin16", 3, false, 19,
                   {"stdapi SDT_ClosePort(3)", "stdapi SDT_OpenPort(19)",
                    "stdapi SDT_GetSAMStatus(19, 0)"},
                   1},
        SwitchCase{"SerialToUsb", 3, false, 1001,
                   {"stdapi SDT_ClosePort(3)", "sdtapi SDT_OpenPort(1001)",
                    "sdtapi SDT_GetSAMStatus(1001, 0)"},
                   1},
        // With the serial port closed the serial driver is not kept for a USB port.
        SwitchCase{"ClosedSerialToUsb", 3, true, 1001,
                   {"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)"}, 1},
        SwitchCase{"ClosedSerialToSerial", 3, true, 7,
                   {"stdapi SDT_OpenPort(7)", "stdapi SDT_GetSAMStatus(7, 0)"}, 1},
        SwitchCase{"SamePortAgain", 1001, false, 1001,
                   {"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Session, PortZeroKeepsTheSerialDriverForAUsbPort) {
  sim().set_reader_port(0);
  ASSERT_EQ(InitComm(0), 1);
  sim().clear_journal();
  EXPECT_EQ(InitComm(1005), 0);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"stdapi SDT_ClosePort(0)", "stdapi SDT_OpenPort(1005)"}));
  EXPECT_EQ(log_lines(), (Lines{entry(1002, 1, "_InitComm")}));
}

TEST_F(Session, FailedSwitchLeavesNothingToCallThrough) {
  ASSERT_EQ(InitComm(1001), 1);
  sim().unload(SIM_LIB_STDAPI);
  sim().clear_journal();
  EXPECT_EQ(InitComm(3), 0);
  EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi SDT_ClosePort(1001)"}));
  EXPECT_EQ(log_lines(), (Lines{entry(1001, 0, "_InitComm")}));
  // The USB driver is still loaded by the test bed; nothing may reach it through stale entries.
  sim().clear_journal();
  char sam[64] = {};
  unsigned char info[28] = {};
  EXPECT_EQ(fn<decltype(&::GetSAMIDToStr)>("GetSAMIDToStr")(1001, sam, 0), 0);
  EXPECT_EQ(fn<decltype(&::ReadMngInfo)>("ReadMngInfo")(1001, info, 0), 0);
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(Read_Content(1), 0);
  EXPECT_EQ(CloseComm(), 1);
  EXPECT_TRUE(sim().journal_lines().empty());
  // A USB port loads its driver again.
  EXPECT_EQ(InitComm(1001), 1);
}

TEST_F(Session, InitCommResultsAndLogEntries) {
  // The reader is elsewhere: the open fails with the driver's status.
  sim().set_reader_port(1002);
  EXPECT_EQ(InitComm(1001), 0);
  sim().set_status(SIM_OPEN_PORT, 0xA0);
  EXPECT_EQ(InitComm(1001), 0);
  sim().set_status(SIM_OPEN_PORT, SIM_NO_STATUS);
  EXPECT_EQ(CloseComm(), 1);  // nothing was opened
  EXPECT_EQ(log_lines(), (Lines{entry(1002, 1, "_InitComm"), entry(1002, 160, "_InitComm")}));
  EXPECT_EQ(sim().count(SIM_CLOSE_PORT), 0);
}

TEST_F(Session, SamFailureClosesThePortButKeepsItCurrent) {
  sim().set_status(SIM_GET_SAM_STATUS, 0x60);
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 0)",
                   "sdtapi SDT_ClosePort(1001)"}));
  sim().clear_journal();
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi SDT_GetSAMStatus(1001, 0)"}));
  EXPECT_EQ(log_lines(),
            (Lines{entry(1003, 0x60, "GetSAMStatus"), entry(1003, 0x60, "_Authenticate")}));
}

TEST_F(Session, PreviousPortThatWillNotClose) {
  ASSERT_EQ(InitComm(1001), 1);
  // Only a result of 0 stops the open.
  sim().queue_status(SIM_CLOSE_PORT, 0x01);
  sim().set_reader_port(1010);
  EXPECT_EQ(InitComm(1010), 1);
  sim().queue_status(SIM_CLOSE_PORT, 0);
  sim().set_reader_port(1011);
  EXPECT_EQ(InitComm(1011), 0);
  EXPECT_EQ(log_lines(), (Lines{entry(1001, 0, "_InitComm")}));
  sim().clear_journal();
  EXPECT_EQ(CloseComm(), 1);  // no port is current any more
  EXPECT_EQ(Read_Content(2), 0);
  EXPECT_TRUE(sim().journal_lines().empty());
}

TEST_F(Session, FailedOpenAfterClosingLeavesTheOldPortCurrent) {
  ASSERT_EQ(InitComm(1001), 1);
  sim().set_reader_port(1003);
  EXPECT_EQ(InitComm(1002), 0);  // 1001 closed, 1002 not opened
  sim().clear_journal();
  EXPECT_EQ(CloseComm(), 0);
  EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi SDT_ClosePort(1001)"}));
  EXPECT_EQ(log_lines(),
            (Lines{entry(1002, 1, "_InitComm"), entry(1001, 1, "_CloseComm")}));
}

TEST_F(Session, CloseComm) {
  EXPECT_EQ(CloseComm(), 1);  // nothing open: no call, no entry
  EXPECT_TRUE(sim().journal_lines().empty());
  ASSERT_EQ(InitComm(1001), 1);
  sim().queue_status(SIM_CLOSE_PORT, 0x01);
  EXPECT_EQ(CloseComm(), 0);  // the port stays current
  EXPECT_EQ(CloseComm(), 1);
  EXPECT_EQ(CloseComm(), 1);
  EXPECT_EQ(sim().journal_lines(SIM_CLOSE_PORT),
            (Lines{"sdtapi SDT_ClosePort(1001)", "sdtapi SDT_ClosePort(1001)"}));
  EXPECT_EQ(log_lines(), (Lines{entry(1001, 1, "_CloseComm")}));
}

TEST_F(Session, Authenticate) {
  EXPECT_EQ(Authenticate(), 0);  // no port: no call, no entry
  EXPECT_TRUE(sim().journal_lines().empty());
  ASSERT_EQ(InitComm(1001), 1);
  sim().clear_journal();
  EXPECT_EQ(Authenticate(), 1);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_GetSAMStatus(1001, 0)", "sdtapi SDT_StartFindIDCard(1001, 0)",
                   "sdtapi SDT_SelectIDCard(1001, 0)"}));
  sim().queue_status(SIM_START_FIND_ID_CARD, 0x80);
  EXPECT_EQ(Authenticate(), 0);
  sim().queue_status(SIM_START_FIND_ID_CARD, 0x90);  // found means 0x9F, nothing else
  EXPECT_EQ(Authenticate(), 0);
  sim().queue_status(SIM_SELECT_ID_CARD, 0x41);
  EXPECT_EQ(Authenticate(), 0);
  sim().queue_status(SIM_GET_SAM_STATUS, 0x9F);
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(log_lines(),
            (Lines{entry(1004, 0x80, "_Authenticate"), entry(1004, 0x90, "_Authenticate"),
                   entry(1005, 0x41, "_Authenticate"), entry(1003, 0x9F, "_Authenticate")}));
}

TEST_F(Session, PassThroughsHandTheDriverItsArgumentsAndResult) {
  char sam[64];
  std::memset(sam, 'x', sizeof sam);
  auto get_sam = fn<decltype(&::GetSAMIDToStr)>("GetSAMIDToStr");
  auto read_mng = fn<decltype(&::ReadMngInfo)>("ReadMngInfo");
  // No port open: the driver's own answer.
  EXPECT_EQ(get_sam(1001, sam, 0), 0x01);
  ASSERT_EQ(InitComm(1001), 1);
  const Bytes sam_text =
      testbed::bytes(std::string_view("05-01-20101122-0012345678-1234567890\0", 37));
  sim().set_record(SIM_REC_SAM_ID_TEXT, sam_text);
  sim().clear_journal();
  EXPECT_EQ(get_sam(1001, sam, 7), 0x90);
  EXPECT_EQ(std::string(sam), "05-01-20101122-0012345678-1234567890");
  Bytes info(28);
  for (int i = 0; i < 28; ++i) info[i] = static_cast<unsigned char>(0xA0 + i);
  sim().set_record(SIM_REC_MNG_INFO, info);
  Bytes got(28);
  EXPECT_EQ(read_mng(1001, got.data(), 3), 0x90);
  EXPECT_EQ(got, info);
  sim().set_status(SIM_READ_MNG_INFO, 0x41);
  EXPECT_EQ(read_mng(1001, got.data(), 0), 0x41);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_GetSAMIDToStr(1001, 7)", "sdtapi SDT_ReadMngInfo(1001, 3)",
                   "sdtapi SDT_ReadMngInfo(1001, 0)"}));
  EXPECT_FALSE(plat::file_exists(log_path().c_str()));
}

}  // namespace
}  // namespace vantrel_test
