// Port discovery, closing and the SAM identity.
#include <string>
#include <vector>

#include "tests/support/sdt_fixture.h"

namespace sdt_test {
namespace {

using Lines = std::vector<std::string>;

std::string open_line(int port) { return "sdtapi SDT_OpenPort(" + std::to_string(port) + ")"; }
std::string sam_line(int port) {
  return "sdtapi SDT_GetSAMStatus(" + std::to_string(port) + ", 1)";
}
// The opens of the USB ports from `first` to 1016, none of which answers.
Lines failed_opens(int first) {
  Lines lines;
  for (int port = first; port <= drv::kLastUsbPort; ++port) lines.push_back(open_line(port));
  return lines;
}
Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Session : public SdtTest {};

TEST_F(Session, TakesTheFirstUsbPortWhoseSamAnswers) {
  sim().set_reader_port(1003);
  EXPECT_EQ(open_comm(3), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{open_line(1001), open_line(1002), open_line(1003), sam_line(1003)}));
  // 1003 is current: the next call goes there.
  sim().clear_journal();
  EXPECT_EQ(close_comm(), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi SDT_ClosePort(1003)"});
}

TEST_F(Session, FallsBackToTheCallersPortWithoutSamQuery) {
  sim().set_reader_port(7);  // no USB reader: the USB driver opens nothing
  sim().set_status(SIM_OPEN_PORT, drv::kOk, 3);
  EXPECT_EQ(open_comm(3), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(), failed_opens(1001) + Lines{open_line(3)});
  sim().clear_journal();
  select_card();
  EXPECT_EQ(sim().journal_lines(SIM_START_FIND_ID_CARD),
            Lines{"sdtapi SDT_StartFindIDCard(3, 1)"});
}

TEST_F(Session, SamFailingOnAPortMovesTheScanOnWithoutClosingIt) {
  sim().set_status(SIM_GET_SAM_STATUS, SIM_STATUS_SAM_NOT_ANSWERING, kReaderPort);
  EXPECT_EQ(open_comm(3), RIDEL_SDT_DRIVER_FAILED);  // the USB driver cannot open port 3
  EXPECT_EQ(sim().journal_lines(),
            (Lines{open_line(1001), sam_line(1001)} + failed_opens(1002) + Lines{open_line(3)}));
  EXPECT_EQ(sim().count(SIM_CLOSE_PORT), 0);
}

TEST_F(Session, UsbFallbackPortIsOpenedTwice) {
  sim().set_reader_port(1005);
  sim().set_status(SIM_GET_SAM_STATUS, SIM_STATUS_SAM_NOT_ANSWERING);
  // The scan opens 1005 and finds its SAM silent; the fallback opens it again and succeeds.
  EXPECT_EQ(open_comm(1005), RIDEL_SDT_OK);
  EXPECT_EQ(sim().journal_lines(SIM_OPEN_PORT), failed_opens(1001) + Lines{open_line(1005)});
  EXPECT_EQ(sim().count(SIM_GET_SAM_STATUS), 1);
}

TEST_F(Session, FallbackStatusIsTheResult) {
  struct Case {
    int status, result;
  } cases[] = {{drv::kOk, RIDEL_SDT_OK},
               {drv::kStatusOne, RIDEL_SDT_DRIVER_FAILED},
               {0x02, 0x02},
               {0x41, 0x41},
               {drv::kCardFound, drv::kCardFound},
               {0, 0},
               {-10, -10}};
  for (const Case& c : cases) {
    sim().reset();
    sim().set_reader_port(7);
    sim().set_status(SIM_OPEN_PORT, c.status, 1005);
    EXPECT_EQ(open_comm(1005), c.result) << c.status;
    // Both opens of 1005, in the scan and as fallback, gave the scripted status.
    EXPECT_EQ(sim().journal_lines(SIM_OPEN_PORT), failed_opens(1001) + Lines{open_line(1005)});
  }
}

TEST_F(Session, EveryCallRepeatsTheWholeScan) {
  sim().set_reader_port(1002);
  EXPECT_EQ(open_comm(1), RIDEL_SDT_OK);
  EXPECT_EQ(open_comm(1), RIDEL_SDT_OK);
  const Lines once{open_line(1001), open_line(1002), sam_line(1002)};
  EXPECT_EQ(sim().journal_lines(), once + once);
}

TEST_F(Session, CloseResults) {
  // Before any OpenComm the current port is 0, which the driver has not opened.
  EXPECT_EQ(close_comm(), RIDEL_SDT_DRIVER_FAILED);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi SDT_ClosePort(0)"});

  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
  struct Case {
    int status, result;
  } cases[] = {{drv::kOk, RIDEL_SDT_OK}, {drv::kStatusOne, RIDEL_SDT_DRIVER_FAILED},
               {0x33, 0x33}, {drv::kNoAppendedAddress, drv::kNoAppendedAddress}};
  for (const Case& c : cases) {
    sim().queue_status(SIM_CLOSE_PORT, c.status, kReaderPort);
    EXPECT_EQ(close_comm(), c.result) << c.status;
  }
}

TEST_F(Session, CloseKeepsThePortCurrent) {
  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
  EXPECT_EQ(close_comm(), RIDEL_SDT_OK);
  sim().clear_journal();
  // The port is closed: the driver refuses, and the edition still addresses 1001.
  EXPECT_EQ(select_card(), RIDEL_SDT_DRIVER_FAILED);
  EXPECT_EQ(read_info(RIDEL_SDT_READ_TEXT), RIDEL_SDT_DRIVER_FAILED);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi SDT_StartFindIDCard(1001, 1)", "sdtapi SDT_ReadBaseMsg(1001, 1)"}));
}

TEST_F(Session, SamIdReachesTheCallersBuffer) {
  const testbed::Bytes id = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                           0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  sim().set_record(SIM_REC_SAM_ID, id);
  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
  sim().clear_journal();
  unsigned char buffer[32] = {};
  EXPECT_EQ(get_sam_id(buffer), RIDEL_SDT_OK);
  EXPECT_EQ(testbed::Bytes(buffer, buffer + id.size()), id);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi SDT_GetSAMID(1001, 1)"});
}

TEST_F(Session, SamIdFailureIsAlwaysZero) {
  // Port 0 is not open before OpenComm: status 1, which other calls report as -10.
  unsigned char buffer[32] = {};
  EXPECT_EQ(get_sam_id(buffer), RIDEL_SDT_NONE);
  ASSERT_EQ(open_comm(kReaderPort), RIDEL_SDT_OK);
  for (int status : {drv::kStatusOne, SIM_STATUS_SAM_NOT_ANSWERING, 0x02, -1, drv::kCardFound}) {
    sim().queue_status(SIM_GET_SAM_ID, status);
    EXPECT_EQ(get_sam_id(buffer), RIDEL_SDT_NONE) << status;
  }
  // A null buffer never reaches the driver.
  sim().clear_journal();
  EXPECT_EQ(get_sam_id(nullptr), RIDEL_SDT_NONE);
  EXPECT_EQ(sim().count(SIM_GET_SAM_ID), 0);
}

}  // namespace
}  // namespace sdt_test
