// The QDX edition's port session: open, close, authenticate, ANT, the raw base message, the
// version text, and what a missing driver or decoder leaves of them.
#include <cstring>

#include "tests/support/qdx_fixture.h"

namespace {

using testbed::Bytes;
using Lines = std::vector<std::string>;

class QdxSession : public qdx_test::QdxTest {
 protected:
  // Makes the simulated driver answer every call of an open on a port it does not serve.
  void script_open_on(int port) {
    for (int entry : {SIM_OPEN_PORT, SIM_GET_SAM_STATUS, SIM_GET_SAM_ID_TO_STR, SIM_CLOSE_PORT})
      sim().set_status(entry, 0x90, port);
  }
};

const Lines kFirstOpen = {"sdtapi QDX_OpenPort(1001)", "sdtapi QDX_GetSAMStatus(1001, 0)",
                          "sdtapi QDX_GetSAMIDToStr(1001, 0)"};

// ---- Open ---------------------------------------------------------------------------------------

TEST_F(QdxSession, OpenChecksTheSamAndReadsItsId) {
  for (const char* name : {"InitComm", "QDX_InitComm", "TC_InitComm"}) {
    SCOPED_TRACE(name);
    unload_edition();
    sim().reset();
    EXPECT_EQ(InitComm(1001, name), 1);
    EXPECT_EQ(sim().journal_lines(), kFirstOpen);
  }
}

TEST_F(QdxSession, OpenWhereNoReaderAnswersFailsAtOnce) {
  EXPECT_EQ(InitComm(1002), 0);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_OpenPort(1002)"});
  // No session: close and authenticate do not reach the driver.
  EXPECT_EQ(CloseComm(), 0);
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(sim().journal_lines().size(), 1u);
}

TEST_F(QdxSession, SamStatusFailureLeavesThePortOpenAndThePortNumberAlone) {
  sim().set_status(SIM_GET_SAM_STATUS, SIM_STATUS_SAM_NOT_ANSWERING);
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi QDX_OpenPort(1001)", "sdtapi QDX_GetSAMStatus(1001, 0)"}));
  sim().clear_journal();
  EXPECT_EQ(CloseComm(), 0);
  // The port number is still the initial 0.
  unsigned char text[256], photo[1024];
  EXPECT_EQ(QDX_ReadBaseMsg(text, photo), 0);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadBaseMsg(0, 0)"});
}

TEST_F(QdxSession, SamIdFailureKeepsThePortButOpensNoSession) {
  sim().queue_status(SIM_GET_SAM_ID_TO_STR, SIM_STATUS_SAM_NOT_ANSWERING);
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_EQ(sim().journal_lines(), kFirstOpen);
  sim().clear_journal();
  EXPECT_EQ(CloseComm(), 0);
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(Read_Content(4), 0);
  EXPECT_TRUE(sim().journal_lines().empty());
  // The port was stored and stays open: the raw read reaches the reader.
  unsigned char text[256], photo[1024];
  EXPECT_EQ(QDX_ReadBaseMsg(text, photo), 1);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadBaseMsg(1001, 0)"});
  // With the flag still clear, the next open reads the SAM ID again.
  sim().clear_journal();
  EXPECT_EQ(InitComm(1001), 1);
  EXPECT_EQ(sim().journal_lines(), kFirstOpen);
}

TEST_F(QdxSession, SecondOpenOnAnotherPortKeepsTheSessionAndTheSamNumber) {
  open();
  sim().set_record(SIM_REC_SAM_ID_TEXT, testbed::bytes(std::string("1-2-3-654321", 13)));
  sim().set_reader_port(1002);
  EXPECT_EQ(InitComm(1002), 1);
  // The old port is not closed and the SAM ID is not read again.
  EXPECT_EQ(sim().journal_lines(),
            (Lines{"sdtapi QDX_OpenPort(1002)", "sdtapi QDX_GetSAMStatus(1002, 0)"}));
  sim().clear_journal();
  EXPECT_EQ(Authenticate(), 1);
  EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi QDX_StartFindIDCard(1002, 0)",
                                          "sdtapi QDX_SelectIDCard(1002, 0)"}));
  EXPECT_EQ(Read_Content(6), 1);
  EXPECT_TRUE(exists(std::string(qdx_test::kSampleSam) + ".txt"));
  EXPECT_FALSE(exists("654321.txt"));
}

TEST_F(QdxSession, FailedSecondOpenKeepsThePortNumber) {
  open();
  EXPECT_EQ(InitComm(1002), 0);
  sim().clear_journal();
  EXPECT_EQ(Authenticate(), 1);
  EXPECT_EQ(sim().journal_lines()[0], "sdtapi QDX_StartFindIDCard(1001, 0)");
}

// ---- The SAM number, seen in the names of the mode-6 files --------------------------------------

TEST_F(QdxSession, SamNumberIsTheFourthGroupOfTheSamId) {
  struct Case {
    std::string sam_id;  // the bytes the driver writes, terminator included where there is one
    std::string stem;
  } cases[] = {
      {std::string("0511-20180418-0000036512-0000123456", 36), qdx_test::kSampleSam},
      {std::string("1-2-3-000789-55", 16), "789"},  // leading zeros; the fifth group is not read
      {std::string("99-99-99-45x6-7", 16), "45"},   // a stray character ends the group
      {std::string("---4294967297", 14), "1"},      // 32-bit arithmetic wraps
      {std::string("---2147483648", 14), "-2147483648"},
      {std::string("1-2-3", 6), "0"},               // no fourth group
      // All 40 bytes, no terminator: the scan stops at the buffer's end.
      {"1-2-3-" + std::string(32, '0') + "42", "42"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sam_id.c_str());
    unload_edition();
    sim().reset();
    remove_result_files();
    sim().set_record(SIM_REC_SAM_ID_TEXT, testbed::bytes(c.sam_id));
    ASSERT_EQ(InitComm(1001), 1);
    sim().clear_journal();
    EXPECT_EQ(Read_Content(6), 1);
    EXPECT_TRUE(exists(c.stem + ".txt"));
    EXPECT_TRUE(exists(c.stem + ".wlt"));
    EXPECT_EQ(sim().journal_lines(SIM_GET_BMP), Lines{get_bmp_line(c.stem + ".wlt")});
  }
}

// ---- Close and authenticate ---------------------------------------------------------------------

TEST_F(QdxSession, CloseReachesTheDriverOnlyAfterAnOpen) {
  for (const char* name : {"CloseComm", "QDX_CloseComm", "TC_CloseComm"}) {
    SCOPED_TRACE(name);
    unload_edition();
    sim().reset();
    EXPECT_EQ(CloseComm(name), 0);
    EXPECT_TRUE(sim().journal_lines().empty());
    open();
    EXPECT_EQ(CloseComm(name), 1);
    // The session stays: the second close reaches the driver, which finds the port closed.
    EXPECT_EQ(CloseComm(name), 0);
    EXPECT_EQ(sim().journal_lines(),
              (Lines{"sdtapi QDX_ClosePort(1001)", "sdtapi QDX_ClosePort(1001)"}));
  }
}

TEST_F(QdxSession, AfterACloseCallsGoToTheClosedPort) {
  open();
  ASSERT_EQ(CloseComm(), 1);
  sim().clear_journal();
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(Read_Content(2), 0);
  EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi QDX_StartFindIDCard(1001, 0)",
                                          "sdtapi QDX_ReadBaseMsg(1001, 0)"}));
  // Opening again needs no second SAM ID read.
  sim().clear_journal();
  EXPECT_EQ(InitComm(1001), 1);
  EXPECT_EQ(sim().count(SIM_GET_SAM_ID_TO_STR), 0);
}

TEST_F(QdxSession, AuthenticateFindsThenSelects) {
  for (const char* name : {"Authenticate", "QDX_Authenticate", "TC_Authenticate"}) {
    SCOPED_TRACE(name);
    unload_edition();
    sim().reset();
    EXPECT_EQ(Authenticate(name), 0);
    EXPECT_TRUE(sim().journal_lines().empty());
    open();
    EXPECT_EQ(Authenticate(name), 1);
    EXPECT_EQ(sim().journal_lines(), (Lines{"sdtapi QDX_StartFindIDCard(1001, 0)",
                                            "sdtapi QDX_SelectIDCard(1001, 0)"}));
  }
}

TEST_F(QdxSession, AuthenticateFailsOnAnyOtherStatus) {
  struct Case {
    int find, select;
    int selects;  // calls of SelectIDCard expected
  } cases[] = {
      {0x80, 0x90, 0},  // no card found
      {0x90, 0x90, 0},  // success of the wrong kind: the find step must answer 0x9F
      {0x9F, 0x41, 1},
      {0x9F, 0x9F, 1},
  };
  open();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.find << "/" << c.select);
    sim().clear_journal();
    sim().queue_status(SIM_START_FIND_ID_CARD, c.find);
    sim().queue_status(SIM_SELECT_ID_CARD, c.select);
    EXPECT_EQ(Authenticate(), 0);
    EXPECT_EQ(sim().count(SIM_SELECT_ID_CARD), c.selects);
    sim().queue_status(SIM_SELECT_ID_CARD, SIM_NO_STATUS);  // drop what was not used
  }
}

// ---- ANT ----------------------------------------------------------------------------------------

TEST_F(QdxSession, AntClosesCallsAndReopensOnSerialPorts) {
  for (int port : {1, 3, 999}) {
    SCOPED_TRACE(port);
    unload_edition();
    sim().reset();
    script_open_on(port);
    sim().set_status(SIM_ANT, 0x1234, port);
    ASSERT_EQ(InitComm(port), 1);
    sim().clear_journal();
    EXPECT_EQ(QDX_Ant(7), 0x34);
    const std::string p = std::to_string(port);
    EXPECT_EQ(sim().journal_lines(),
              (Lines{"sdtapi QDX_ClosePort(" + p + ")", "sdtapi QDX_ANT(" + p + ", 7)",
                     "sdtapi QDX_OpenPort(" + p + ")", "sdtapi QDX_GetSAMStatus(" + p + ", 0)"}));
  }
}

TEST_F(QdxSession, AntHandsBackTheLowByteWhateverCloseAndReopenGive) {
  script_open_on(3);
  ASSERT_EQ(InitComm(3), 1);
  struct Case {
    int status, expected;
  } cases[] = {{0x1FF, 255}, {0x100, 0}, {-1, 255}, {0x90, 0x90}};
  for (const Case& c : cases) {
    sim().set_status(SIM_ANT, c.status, 3);
    sim().queue_status(SIM_CLOSE_PORT, 0x01, 3);
    sim().queue_status(SIM_OPEN_PORT, 0x01, 3);
    EXPECT_EQ(QDX_Ant(0), c.expected) << c.status;
  }
}

TEST_F(QdxSession, AntRefusesUsbPortsAndNoSession) {
  EXPECT_EQ(QDX_Ant(7), 0);  // no session yet
  EXPECT_TRUE(sim().journal_lines().empty());
  open();
  EXPECT_EQ(QDX_Ant(7), 0);  // 1001
  EXPECT_TRUE(sim().journal_lines().empty());
  script_open_on(1000);
  ASSERT_EQ(InitComm(1000), 1);
  sim().clear_journal();
  EXPECT_EQ(QDX_Ant(7), 0);
  EXPECT_TRUE(sim().journal_lines().empty());
}

// ---- The raw base message -----------------------------------------------------------------------

TEST_F(QdxSession, ReadBaseMsgBeforeAnyOpenAsksPortZero) {
  unsigned char text[256], photo[1024];
  EXPECT_EQ(QDX_ReadBaseMsg(text, photo), 0);
  EXPECT_EQ(sim().journal_lines(), Lines{"sdtapi QDX_ReadBaseMsg(0, 0)"});
}

// The reported lengths decide what is copied, never more than the record buffers hold.
TEST_F(QdxSession, ReadBaseMsgCopiesTheRecordsAndNoMore) {
  struct Case {
    unsigned text_length, photo_length;
    std::size_t text_copied, photo_copied;
  } cases[] = {{256, 1024, 256, 1024},
               {5000, 70000, 256, 1024},
               {257, 1025, 256, 1024},
               {10, 0, 10, 0}};
  const Bytes identity = testbed::IdentityRecord().set(rec::Field::Name, u"王小明").bytes();
  Bytes photo(1024);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<unsigned char>(i * 7 + 1);
  sim().set_record(SIM_REC_IDENTITY, identity);
  sim().set_record(SIM_REC_PHOTO, photo);
  open();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text_length << "/" << c.photo_length);
    sim().set_reported_length(SIM_REC_IDENTITY, c.text_length);
    sim().set_reported_length(SIM_REC_PHOTO, c.photo_length);
    Bytes text_out(2048, 0xEE), photo_out(2048, 0xEE);
    EXPECT_EQ(QDX_ReadBaseMsg(text_out.data(), photo_out.data()), 1);
    const auto text_end = text_out.begin() + static_cast<long>(c.text_copied);
    const auto photo_end = photo_out.begin() + static_cast<long>(c.photo_copied);
    EXPECT_EQ(Bytes(text_out.begin(), text_end),
              Bytes(identity.begin(), identity.begin() + static_cast<long>(c.text_copied)));
    EXPECT_EQ(Bytes(text_end, text_out.end()), Bytes(2048 - c.text_copied, 0xEE));
    EXPECT_EQ(Bytes(photo_out.begin(), photo_end),
              Bytes(photo.begin(), photo.begin() + static_cast<long>(c.photo_copied)));
    EXPECT_EQ(Bytes(photo_end, photo_out.end()), Bytes(2048 - c.photo_copied, 0xEE));
  }
}

TEST_F(QdxSession, ReadBaseMsgWithANullDestinationWritesNothing) {
  open();
  Bytes out(1024, 0xEE);
  EXPECT_EQ(QDX_ReadBaseMsg(nullptr, out.data()), 0);
  EXPECT_EQ(QDX_ReadBaseMsg(out.data(), nullptr), 0);
  EXPECT_EQ(out, Bytes(1024, 0xEE));
  EXPECT_EQ(sim().count(SIM_READ_BASE_MSG), 0);
}

TEST_F(QdxSession, ReadBaseMsgRefusedCopiesNothing) {
  open();
  sim().set_status(SIM_READ_BASE_MSG, SIM_STATUS_NO_CARD);
  Bytes text_out(256, 0xEE), photo_out(1024, 0xEE);
  EXPECT_EQ(QDX_ReadBaseMsg(text_out.data(), photo_out.data()), 0);
  EXPECT_EQ(text_out, Bytes(256, 0xEE));
  EXPECT_EQ(photo_out, Bytes(1024, 0xEE));
}

// ---- Version ------------------------------------------------------------------------------------

TEST_F(QdxSession, VersionIsFortyBytes) {
  std::vector<char> out(64, '\x7F');
  EXPECT_EQ(QDX_GetDllVersion(out.data()), 1);
  const std::string text = "Ridel.dll[QDX V1.1.0.8 2007-3-2]\n";
  ASSERT_EQ(text.size(), 33u);
  EXPECT_EQ(std::string(out.data(), 33), text);
  EXPECT_EQ(std::string(out.data() + 33, 7), std::string(7, '\0'));
  EXPECT_EQ(std::string(out.data() + 40, 24), std::string(24, '\x7F'));
  EXPECT_EQ(QDX_GetDllVersion(nullptr), 0);
  EXPECT_TRUE(sim().journal_lines().empty());
}

// ---- Missing driver or decoder ------------------------------------------------------------------

TEST_F(QdxSession, WithoutTheDriverEveryCallFails) {
  sim().unload(SIM_LIB_SDTAPI);
  EXPECT_EQ(InitComm(1001), 0);
  EXPECT_EQ(CloseComm(), 0);
  EXPECT_EQ(Authenticate(), 0);
  EXPECT_EQ(QDX_Ant(1), 0);
  unsigned char text[256], photo[1024];
  EXPECT_EQ(QDX_ReadBaseMsg(text, photo), 0);
  for (int mode = 1; mode <= 6; ++mode) EXPECT_EQ(Read_Content(mode), 0) << mode;
  char version[40];
  EXPECT_EQ(QDX_GetDllVersion(version), 1);
  EXPECT_TRUE(sim().journal_lines().empty());  // stdapi and the decoder were not called either
}

TEST_F(QdxSession, WithoutTheDecoderOnlyTheDecodingModesFail) {
  sim().unload(SIM_LIB_WLTRS);
  open_and_authenticate();
  EXPECT_EQ(Read_Content(2), 1);
  EXPECT_EQ(Read_Content(1), 0);
  EXPECT_EQ(read("zp.wlt").size(), 1024u);  // written before the decoder was needed
  EXPECT_EQ(Read_Content(4), 0);
  EXPECT_EQ(Read_Content(6), 0);
  EXPECT_TRUE(exists(std::string(qdx_test::kSampleSam) + ".wlt"));
  EXPECT_FALSE(exists("zp.bmp"));
}

}  // namespace
