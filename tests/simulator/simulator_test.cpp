// The simulated reader: driver statuses and records, the port family rule, scripting, the journal,
// the decoder's bitmap and card profiles.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/sdtapi.h"
#include "tests/support/testbed_gtest.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using testbed::Bytes;

constexpr unsigned char kFill = 0xCC;  // what a buffer holds before a call, to see what it wrote
constexpr int kUsb = 1001;

// The entry points of one simulator library under one prefix.
struct Driver {
  drv::OpenPortFn open;
  drv::ClosePortFn close;
  drv::SetMaxRFByteFn set_max_rf_byte;
  drv::GetCOMBaudFn get_com_baud;
  drv::SetCOMBaudFn set_com_baud;
  drv::ResetSAMFn reset_sam;
  drv::GetSAMStatusFn sam_status;
  drv::GetSAMIDFn sam_id;
  drv::GetSAMIDToStrFn sam_id_text;
  drv::StartFindIDCardFn find;
  drv::SelectIDCardFn select;
  drv::ReadBaseMsgFn read_base;
  drv::ReadMngInfoFn read_mng;
  drv::ReadNewAppMsgFn read_app;
};

template <class Fn>
Fn fn(int library, const std::string& name) {
  testbed::Simulator& sim = testbed::Simulator::instance();
  sim.load(library);
  return sim.entry<Fn>(library, name.c_str());
}

Driver driver(int library, const std::string& prefix) {
  return {fn<drv::OpenPortFn>(library, prefix + "OpenPort"),
          fn<drv::ClosePortFn>(library, prefix + "ClosePort"),
          fn<drv::SetMaxRFByteFn>(library, prefix + "SetMaxRFByte"),
          fn<drv::GetCOMBaudFn>(library, prefix + "GetCOMBaud"),
          fn<drv::SetCOMBaudFn>(library, prefix + "SetCOMBaud"),
          fn<drv::ResetSAMFn>(library, prefix + "ResetSAM"),
          fn<drv::GetSAMStatusFn>(library, prefix + "GetSAMStatus"),
          fn<drv::GetSAMIDFn>(library, prefix + "GetSAMID"),
          fn<drv::GetSAMIDToStrFn>(library, prefix + "GetSAMIDToStr"),
          fn<drv::StartFindIDCardFn>(library, prefix + "StartFindIDCard"),
          fn<drv::SelectIDCardFn>(library, prefix + "SelectIDCard"),
          fn<drv::ReadBaseMsgFn>(library, prefix + "ReadBaseMsg"),
          fn<drv::ReadMngInfoFn>(library, prefix + "ReadMngInfo"),
          fn<drv::ReadNewAppMsgFn>(library, prefix + "ReadNewAppMsg")};
}

drv::GetBmpFn get_bmp() { return fn<drv::GetBmpFn>(SIM_LIB_WLTRS, "GetBmp"); }

// How many leading bytes of a buffer filled with kFill a call changed (the last one changed).
std::size_t written(const Bytes& buffer) {
  std::size_t n = buffer.size();
  while (n > 0 && buffer[n - 1] == kFill) --n;
  return n;
}

std::u16string field_text(const Bytes& record, rec::Field field) {
  const rec::Span s = rec::span(field);
  std::u16string out;
  for (int i = 0; i < s.units(); ++i) {
    out.push_back(static_cast<char16_t>(record[s.offset + 2 * i] | record[s.offset + 2 * i + 1] << 8));
  }
  return out;
}

std::u16string trimmed(std::u16string text) {
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim().load_all();
    sim().reset();
  }
  testbed::Simulator& sim() { return testbed::Simulator::instance(); }
  std::string path(const std::string& name) const { return testbed::output_folder() + name; }

  // Writes a profile beside the test executable and loads it into every simulator library.
  bool load_profile(const std::string& json, std::string* error = nullptr) {
    const std::string file = path("profile.json");
    EXPECT_TRUE(testbed::write_file(file, testbed::bytes(json)));
    std::string message;
    const bool ok = sim().load_profile(file, &message);
    if (error) *error = message;
    return ok;
  }

  Bytes read_identity(const Driver& d, int port = kUsb) {
    Bytes text(256, kFill), photo(1024, kFill);
    unsigned text_length = 0, photo_length = 0;
    EXPECT_EQ(d.read_base(port, text.data(), &text_length, photo.data(), &photo_length, 0),
              drv::kOk);
    return text;
  }
};

// ---- The default reader -------------------------------------------------------------------------

class DefaultReader : public SimulatorTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DefaultReader, ContractSequenceGivesStatusesAndRecords) {
  const Driver d = driver(SIM_LIB_SDTAPI, GetParam());
  EXPECT_EQ(d.open(kUsb), drv::kOk);
  EXPECT_EQ(d.sam_status(kUsb, 0), drv::kOk);

  Bytes sam_text(48, kFill);
  EXPECT_EQ(d.sam_id_text(kUsb, reinterpret_cast<char*>(sam_text.data()), 0), drv::kOk);
  EXPECT_LE(written(sam_text), 40u);
  const std::string sam(reinterpret_cast<const char*>(sam_text.data()));
  EXPECT_EQ(std::count(sam.begin(), sam.end(), '-'), 3) << sam;
  const std::string fourth = sam.substr(sam.rfind('-') + 1);
  EXPECT_EQ(fourth.front(), '0') << "fourth group has leading zeros";
  EXPECT_TRUE(std::all_of(fourth.begin(), fourth.end(),
                          [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      << sam;

  Bytes raw_sam(20, kFill);
  EXPECT_EQ(d.sam_id(kUsb, raw_sam.data(), 0), drv::kOk);
  EXPECT_EQ(written(raw_sam), 16u);

  Bytes find(8, kFill), select(12, kFill);
  EXPECT_EQ(d.find(kUsb, find.data(), 0), drv::kCardFound);
  EXPECT_EQ(written(find), 4u);
  EXPECT_EQ(d.select(kUsb, select.data(), 0), drv::kOk);
  EXPECT_EQ(written(select), 8u);

  Bytes text(300, kFill), photo(1100, kFill);
  unsigned text_length = 0, photo_length = 0;
  EXPECT_EQ(d.read_base(kUsb, text.data(), &text_length, photo.data(), &photo_length, 0), drv::kOk);
  EXPECT_EQ(text_length, 256u);
  EXPECT_EQ(photo_length, 1024u);
  EXPECT_EQ(text[256], kFill);
  EXPECT_EQ(photo[1024], kFill);

  Bytes app(300, kFill);
  unsigned app_length = 0;
  EXPECT_EQ(d.read_app(kUsb, app.data(), &app_length, 0), drv::kOk);
  EXPECT_EQ(app_length, 280u);
  EXPECT_EQ(app[280], kFill);
  EXPECT_TRUE(std::all_of(app.begin() + 70, app.begin() + 280, [](unsigned char b) { return !b; }));

  Bytes mng(32, kFill);
  EXPECT_EQ(d.read_mng(kUsb, mng.data(), 0), drv::kOk);
  EXPECT_EQ(mng[28], kFill);

  unsigned baud = 0;
  EXPECT_EQ(d.get_com_baud(kUsb, &baud), drv::kOk);
  EXPECT_EQ(baud, 115200u);
  EXPECT_EQ(d.get_com_baud(kUsb, nullptr), drv::kOk);
  EXPECT_EQ(d.set_com_baud(kUsb, 115200, 9600), drv::kOk);
  EXPECT_EQ(d.set_max_rf_byte(kUsb, 80, 0), drv::kOk);
  EXPECT_EQ(d.reset_sam(kUsb, 0), drv::kOk);

  EXPECT_EQ(d.close(kUsb), drv::kOk);
  EXPECT_EQ(d.close(kUsb), drv::kStatusOne);
  EXPECT_EQ(d.sam_status(kUsb, 0), drv::kStatusOne) << "closed again";
}

INSTANTIATE_TEST_SUITE_P(Prefixes, DefaultReader, ::testing::Values("QDX_", "SDT_"));

TEST_F(SimulatorTest, SampleCardFillsEveryField) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  const Bytes record = read_identity(d);
  for (int f = 0; f < rec::kFieldCount; ++f) {
    const std::u16string text = field_text(record, static_cast<rec::Field>(f));
    EXPECT_EQ(text.find(u'\0'), std::u16string::npos) << "field " << f << " padded with blanks";
  }
  EXPECT_EQ(field_text(record, rec::Field::Sex), u"1");
  EXPECT_EQ(field_text(record, rec::Field::Nation), u"01");
  const std::u16string name = trimmed(field_text(record, rec::Field::Name));
  EXPECT_TRUE(name.size() > 0 && name.size() < 15);
  EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char16_t c) { return c >= 0x4E00; }));
  EXPECT_GE(trimmed(field_text(record, rec::Field::Address)).size(), 30u);
  const std::u16string id = field_text(record, rec::Field::IdNumber);
  EXPECT_EQ(id.substr(6, 8), field_text(record, rec::Field::Birth));
  EXPECT_EQ(field_text(record, rec::Field::ValidFrom), u"20150101");
  EXPECT_EQ(field_text(record, rec::Field::ValidTo), u"20350101");
}

// ---- Ports --------------------------------------------------------------------------------------

TEST_F(SimulatorTest, CallsOnPortsNotOpenFailAndWriteNothing) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  for (int port : {1002, 1, 0}) {
    SCOPED_TRACE(port);
    Bytes a(2048, kFill), b(2048, kFill);
    unsigned la = 7, lb = 7;
    EXPECT_EQ(d.sam_status(port, 0), drv::kStatusOne);
    EXPECT_EQ(d.reset_sam(port, 0), drv::kStatusOne);
    EXPECT_EQ(d.set_max_rf_byte(port, 1, 0), drv::kStatusOne);
    EXPECT_EQ(d.get_com_baud(port, &la), drv::kStatusOne);
    EXPECT_EQ(d.set_com_baud(port, 1, 2), drv::kStatusOne);
    EXPECT_EQ(d.sam_id(port, a.data(), 0), drv::kStatusOne);
    EXPECT_EQ(d.sam_id_text(port, reinterpret_cast<char*>(a.data()), 0), drv::kStatusOne);
    EXPECT_EQ(d.find(port, a.data(), 0), drv::kStatusOne);
    EXPECT_EQ(d.select(port, a.data(), 0), drv::kStatusOne);
    EXPECT_EQ(d.read_base(port, a.data(), &la, b.data(), &lb, 0), drv::kStatusOne);
    EXPECT_EQ(d.read_mng(port, a.data(), 0), drv::kStatusOne);
    EXPECT_EQ(d.read_app(port, a.data(), &la, 0), drv::kStatusOne);
    EXPECT_EQ(fn<drv::ANTFn>(SIM_LIB_SDTAPI, "QDX_ANT")(port, 5), drv::kStatusOne);
    EXPECT_EQ(written(a) + written(b), 0u);
    EXPECT_EQ(la + lb, 14u);
  }
}

TEST_F(SimulatorTest, OnlyTheReaderPortOpens) {
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  for (int port : {1002, 1016, 1000, 1, 0, -1}) EXPECT_EQ(d.open(port), drv::kStatusOne) << port;
  sim().set_reader_port(1007);
  EXPECT_EQ(d.open(kUsb), drv::kStatusOne);
  EXPECT_EQ(d.open(1007), drv::kOk);
  EXPECT_EQ(d.sam_status(1007, 0), drv::kOk);
}

TEST_F(SimulatorTest, EachDriverServesItsOwnPortFamily) {
  const Driver usb = driver(SIM_LIB_SDTAPI, "SDT_");
  const Driver serial = driver(SIM_LIB_STDAPI, "SDT_");
  EXPECT_EQ(serial.open(kUsb), drv::kStatusOne) << "stdapi refuses a USB reader port";
  sim().set_reader_port(3);
  EXPECT_EQ(usb.open(3), drv::kStatusOne) << "sdtapi refuses a serial reader port";
  ASSERT_EQ(serial.open(3), drv::kOk);
  EXPECT_EQ(serial.sam_status(3, 0), drv::kOk);
  Bytes find(4, kFill);
  EXPECT_EQ(serial.find(3, find.data(), 0), drv::kCardFound);
  EXPECT_EQ(field_text(read_identity(serial, 3), rec::Field::Sex), u"1") << "the same card";
  EXPECT_EQ(serial.close(3), drv::kOk);
}

TEST_F(SimulatorTest, NullPointersGiveTheirOwnStatus) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  Bytes buf(1024, kFill);
  unsigned length = 9;
  EXPECT_EQ(d.sam_id(kUsb, nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.sam_id_text(kUsb, nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.find(kUsb, nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.select(kUsb, nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.read_mng(kUsb, nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.read_app(kUsb, buf.data(), nullptr, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(d.read_base(kUsb, buf.data(), &length, nullptr, &length, 0), SIM_STATUS_NULL_POINTER);
  EXPECT_EQ(written(buf), 0u);
  EXPECT_EQ(length, 9u);
}

// ---- Scripting ----------------------------------------------------------------------------------

TEST_F(SimulatorTest, ScriptedStatusesFollowTheirPrecedence) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  sim().set_status(SIM_GET_SAM_STATUS, 0x11);
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x11);
  sim().set_status(SIM_GET_SAM_STATUS, 0x22, kUsb);
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x22) << "per port wins over any port";
  sim().queue_status(SIM_GET_SAM_STATUS, 0x33);
  sim().queue_status(SIM_GET_SAM_STATUS, 0x44, kUsb);
  sim().queue_status(SIM_GET_SAM_STATUS, 0x55, kUsb);
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x44) << "the port's queue first";
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x55);
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x33) << "then the any-port queue";
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x22) << "then the persistent statuses";
  sim().set_status(SIM_GET_SAM_STATUS, SIM_NO_STATUS, kUsb);
  EXPECT_EQ(d.sam_status(kUsb, 0), 0x11);
  sim().set_status(SIM_GET_SAM_STATUS, SIM_NO_STATUS);
  EXPECT_EQ(d.sam_status(kUsb, 0), drv::kOk);
  sim().queue_status(SIM_GET_SAM_STATUS, 0x66);
  sim().queue_status(SIM_GET_SAM_STATUS, SIM_NO_STATUS);
  EXPECT_EQ(d.sam_status(kUsb, 0), drv::kOk) << "SIM_NO_STATUS empties a queue";
  EXPECT_EQ(d.select(kUsb, Bytes(8).data(), 0), drv::kOk) << "other entries unaffected";
}

TEST_F(SimulatorTest, ScriptedStatusReplacesTheWholeCall) {
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  sim().queue_status(SIM_OPEN_PORT, drv::kOk, 1002);
  EXPECT_EQ(d.open(1002), drv::kOk);
  EXPECT_EQ(d.sam_status(1002, 0), drv::kStatusOne) << "a scripted open opens nothing";
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  sim().set_status(SIM_READ_BASE_MSG, drv::kOk);
  Bytes text(256, kFill), photo(1024, kFill);
  unsigned text_length = 5, photo_length = 6;
  EXPECT_EQ(d.read_base(kUsb, text.data(), &text_length, photo.data(), &photo_length, 0), drv::kOk);
  EXPECT_EQ(written(text) + written(photo), 0u);
  EXPECT_EQ(text_length, 5u);
  EXPECT_EQ(photo_length, 6u);
}

TEST_F(SimulatorTest, RecordsAndReportedLengths) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  Bytes text(512, kFill), photo(2048, kFill);
  unsigned text_length = 0, photo_length = 0;

  sim().set_record(SIM_REC_IDENTITY, Bytes(300, 0x41));
  sim().set_record(SIM_REC_PHOTO, Bytes(10, 0x42));
  ASSERT_EQ(d.read_base(kUsb, text.data(), &text_length, photo.data(), &photo_length, 0), drv::kOk);
  EXPECT_EQ(written(text), 256u) << "writes never pass the contract's buffer size";
  EXPECT_EQ(text_length, 300u);
  EXPECT_EQ(written(photo), 10u);
  EXPECT_EQ(photo_length, 10u);

  sim().set_reported_length(SIM_REC_IDENTITY, 255);
  sim().set_reported_length(SIM_REC_PHOTO, 5000);
  ASSERT_EQ(d.read_base(kUsb, text.data(), &text_length, photo.data(), &photo_length, 0), drv::kOk);
  EXPECT_EQ(text_length, 255u);
  EXPECT_EQ(photo_length, 5000u);
  EXPECT_EQ(written(photo), 10u) << "the override changes only the length";

  sim().set_record(SIM_REC_MNG_INFO, Bytes(100, 0x43));
  sim().set_record(SIM_REC_SAM_ID_TEXT, Bytes(100, 'A'));
  Bytes mng(64, kFill), sam(64, kFill);
  EXPECT_EQ(d.read_mng(kUsb, mng.data(), 0), drv::kOk);
  EXPECT_EQ(written(mng), 28u);
  EXPECT_EQ(d.sam_id_text(kUsb, reinterpret_cast<char*>(sam.data()), 0), drv::kOk);
  EXPECT_EQ(written(sam), 40u);
}

TEST_F(SimulatorTest, NoAppendedAddressGives0x91) {
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  sim().set_record(SIM_REC_APPENDED_ADDRESS, {});
  Bytes app(280, kFill);
  unsigned length = 99;
  EXPECT_EQ(d.read_app(kUsb, app.data(), &length, 0), drv::kNoAppendedAddress);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(written(app), 0u);
}

// ---- Journal ------------------------------------------------------------------------------------

TEST_F(SimulatorTest, JournalRecordsEveryCallWithItsArguments) {
  const Driver qdx = driver(SIM_LIB_SDTAPI, "QDX_");
  const Driver sdt = driver(SIM_LIB_STDAPI, "SDT_");
  auto ant = fn<drv::ANTFn>(SIM_LIB_SDTAPI, "QDX_ANT");
  qdx.open(kUsb);
  qdx.sam_status(kUsb, 0);
  ant(kUsb, 77);
  sdt.sam_status(5, 1);
  qdx.set_com_baud(kUsb, 115200, 9600);
  const std::string wlt = path("journal.wlt");
  testbed::write_file(wlt, Bytes(1024, 1));
  std::string arg = wlt;
  get_bmp()(arg.data(), 2);
  EXPECT_EQ(sim().journal_lines(),
            (std::vector<std::string>{"sdtapi QDX_OpenPort(1001)", "sdtapi QDX_GetSAMStatus(1001, 0)",
                                      "sdtapi QDX_ANT(1001, 77)", "stdapi SDT_GetSAMStatus(5, 1)",
                                      "sdtapi QDX_SetCOMBaud(1001, 9600)",
                                      "WltRS GetBmp(" + wlt + ", 2)"}));
  std::vector<int> results;
  for (const SimCall& c : sim().journal()) results.push_back(c.result);
  EXPECT_EQ(results, (std::vector<int>{0x90, 0x90, 0x90, 0x01, 0x90, 1}));

  // Each library's own journal holds its own calls.
  auto size = fn<int(WINAPI*)()>(SIM_LIB_SDTAPI, "Sim_JournalSize");
  auto entry = fn<int(WINAPI*)(int, SimCall*)>(SIM_LIB_SDTAPI, "Sim_JournalEntry");
  ASSERT_EQ(size(), 4);
  SimCall call{};
  ASSERT_EQ(entry(2, &call), 1);
  EXPECT_EQ(call.entry, SIM_ANT);
  EXPECT_EQ(call.value, 77);
  EXPECT_EQ(call.path[0], '\0');
  EXPECT_EQ(entry(4, &call), 0);
  EXPECT_EQ(entry(-1, &call), 0);
  fn<void(WINAPI*)()>(SIM_LIB_SDTAPI, "Sim_ClearJournal")();
  EXPECT_EQ(size(), 0);
}

// ---- Replay -------------------------------------------------------------------------------------

// A recording played back answers each library's calls in the recorded order with the recorded
// statuses, lengths and bytes, journals them as any call, and fails every call from the first
// one that leaves the recorded sequence on.
TEST_F(SimulatorTest, ReplayAnswersAsRecordedUntilACallLeavesTheRecording) {
  ASSERT_TRUE(testbed::write_file(path("replay-test.jsonl"), testbed::bytes(R"(
{"library":"sdtapi","call":"QDX_OpenPort","args":{"port":1001},"status":144}
{"library":"WltRS","call":"GetBmp","args":{"selector":2,"path":"C:\\desk\\replay.wlt"},"status":1}
{"library":"sdtapi","call":"QDX_ReadNewAppMsg","args":{"port":1001,"flag":0,"message":true,"length":true},"status":144,"counts":{"length":6},"bytes":{"message":"414243444546"}}
{"library":"sdtapi","call":"QDX_ClosePort","args":{"port":1001},"status":144}
)")));
  ASSERT_TRUE(load_profile(R"({"replay": "replay-test.jsonl"})"));
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  EXPECT_EQ(d.open(kUsb), drv::kOk);
  Bytes app(280, kFill);
  unsigned length = 0;
  EXPECT_EQ(d.read_app(kUsb, app.data(), &length, 0), drv::kOk);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(Bytes(app.begin(), app.begin() + 7), testbed::bytes("ABCDEF\xCC"));
  // The decoder's own call, in its own order; it writes the bitmap of the photo file given.
  const std::string wlt = path("replay.wlt"), bmp = path("replay.bmp");
  plat::delete_file(bmp.c_str());
  ASSERT_TRUE(testbed::write_file(wlt, Bytes(1024, 7)));
  std::string arg = wlt;
  EXPECT_EQ(get_bmp()(arg.data(), 2), 1);
  EXPECT_TRUE(plat::file_exists(bmp.c_str()));
  // The recording's next call is ClosePort.
  EXPECT_EQ(d.sam_status(kUsb, 0), SIM_STATUS_OFF_RECORDING);
  EXPECT_EQ(d.close(kUsb), SIM_STATUS_OFF_RECORDING);
  EXPECT_EQ(sim().journal_lines(),
            (std::vector<std::string>{"sdtapi QDX_OpenPort(1001)", "sdtapi QDX_ReadNewAppMsg(1001, 0)",
                                      "WltRS GetBmp(" + wlt + ", 2)", "sdtapi QDX_GetSAMStatus(1001, 0)",
                                      "sdtapi QDX_ClosePort(1001)"}));
  std::vector<int> results;
  for (const SimCall& c : sim().journal()) results.push_back(c.result);
  EXPECT_EQ(results, (std::vector<int>{0x90, 0x90, 1, 4, 4}));
}

TEST_F(SimulatorTest, ReplayOfABadRecordingIsRefusedNamingTheLine) {
  ASSERT_TRUE(testbed::write_file(path("replay-bad.jsonl"), testbed::bytes(
      "{\"library\":\"sdtapi\",\"call\":\"QDX_OpenPort\",\"status\":144}\n"
      "{\"library\":\"sdtapi\",\"call\":\"QDX_ClosePort\",\"status\":\"144\"}\n")));
  std::string error;
  EXPECT_FALSE(load_profile(R"({"replay": "replay-bad.jsonl"})", &error));
  EXPECT_EQ(error, "replay: " + path("replay-bad.jsonl") + ", line 2: status: an integer expected");
  EXPECT_FALSE(load_profile(R"({"replay": "no-such.jsonl"})", &error));
  EXPECT_EQ(error, "replay: cannot open " + path("no-such.jsonl"));
}

// What no reader hands back is refused when the recording is loaded, naming the line.
TEST_F(SimulatorTest, ReplayRefusesWhatNoReaderHandsBack) {
  const std::string open = R"({"library":"sdtapi","call":"QDX_OpenPort","args":{"port":1001},"status":144})";
  const std::string read = R"({"library":"sdtapi","call":"SDT_ReadBaseMsg","args":{"port":1001,"flag":1,"text":true,"text_length":true,"photo":true,"photo_length":true},"status":144,)";
  const struct {
    std::string line;  // the recording's second line
    std::string message;
  } cases[] = {
      {read + R"("counts":{"text_length":4000,"photo_length":1024}})",
       "line 2: counts.text_length: 4000, at most 256"},
      {read + R"("counts":{"text_length":256,"photo_length":20000}})",
       "line 2: counts.photo_length: 20000, at most 1024"},
      {R"({"library":"sdtapi","call":"QDX_ReadNewAppMsg","args":{"port":1001},"status":144,"counts":{"length":281}})",
       "line 2: counts.length: 281, at most 280"},
      {read + R"("counts":{"text_length":-1}})", "line 2: counts.text_length: a length expected"},
      {read + R"("counts":{"length":4}})",
       "line 2: counts.length: SDT_ReadBaseMsg hands back no such length"},
      {read + R"("bytes":{"text":")" + std::string(2 * 257, '0') + R"("}})",
       "line 2: bytes.text: 257 bytes, at most 256"},
      {read + R"("bytes":{"message":"00"}})", "line 2: bytes.message: SDT_ReadBaseMsg fills no such buffer"},
      {R"({"library":"sdtapi","call":"QDX_OpenPort","args":{"port":1001},"status":4294967296})",
       "line 2: status: 4294967296 is out of range"},
      {R"({"library":"sdtapi","call":"QDX_OpenPort","args":{"port":8589934592},"status":144})",
       "line 2: args.port: a 32-bit integer or true/false expected"},
      {open.substr(0, open.size() - 1) + R"(,"microseconds":"12"})",
       "line 2: microseconds: an integer expected"},
      {open.substr(0, open.size() - 1) + R"(,"bitmap_written":1})",
       "line 2: bitmap_written: true or false expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(testbed::write_file(path("replay-limits.jsonl"), testbed::bytes(open + "\n" + c.line + "\n")));
    std::string error;
    EXPECT_FALSE(load_profile(R"({"replay": "replay-limits.jsonl"})", &error));
    EXPECT_EQ(error, "replay: " + path("replay-limits.jsonl") + ", " + c.message);
  }
  // The largest lengths of each record are a reader's own.
  ASSERT_TRUE(testbed::write_file(path("replay-limits.jsonl"), testbed::bytes(
      open + "\n" + read + R"("counts":{"text_length":256,"photo_length":1024}})" + "\n")));
  EXPECT_TRUE(load_profile(R"({"replay": "replay-limits.jsonl"})"));
}

// A recording that cannot be read leaves no reader in its place: the driver and the decoder fail
// every call until a profile loads or the simulator is reset.
TEST_F(SimulatorTest, UnreadableRecordingFailsEveryCall) {
  std::string error;
  EXPECT_FALSE(load_profile(R"({"replay": "no-such-recording.jsonl"})", &error));
  EXPECT_EQ(error, "replay: cannot open " + path("no-such-recording.jsonl"));
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  EXPECT_EQ(d.open(kUsb), SIM_STATUS_OFF_RECORDING);
  Bytes text(256, kFill), photo(1024, kFill);
  unsigned tl = 0, pl = 0;
  EXPECT_EQ(d.read_base(kUsb, text.data(), &tl, photo.data(), &pl, 0), SIM_STATUS_OFF_RECORDING);
  EXPECT_EQ(written(text), 0u) << "nothing of the sample card";
  std::string wlt = path("refused.wlt");
  ASSERT_TRUE(testbed::write_file(wlt, Bytes(1024, 1)));
  EXPECT_EQ(get_bmp()(wlt.data(), 2), SIM_STATUS_OFF_RECORDING);
  EXPECT_EQ(driver(SIM_LIB_STDAPI, "QDX_").open(kUsb), SIM_STATUS_OFF_RECORDING);

  ASSERT_TRUE(load_profile(R"({"name": "李四"})"));
  EXPECT_EQ(d.open(kUsb), drv::kOk) << "a profile that loads replaces the refusal";
  EXPECT_FALSE(load_profile(R"({"replay": "no-such-recording.jsonl"})"));
  sim().reset();
  EXPECT_EQ(d.open(kUsb), drv::kOk) << "so does a reset";
  // A profile refused for anything else keeps the reader as it was.
  EXPECT_FALSE(load_profile(R"({"nmae": "x"})"));
  EXPECT_EQ(d.close(kUsb), drv::kOk);
}

TEST_F(SimulatorTest, JournalKeepsOnlyTheLatestCalls) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  for (int i = 0; i < 5000; ++i) d.sam_status(i, i);
  auto size = fn<int(WINAPI*)()>(SIM_LIB_SDTAPI, "Sim_JournalSize");
  auto entry = fn<int(WINAPI*)(int, SimCall*)>(SIM_LIB_SDTAPI, "Sim_JournalEntry");
  ASSERT_EQ(size(), 4096);
  SimCall first{}, last{};
  ASSERT_EQ(entry(0, &first), 1);
  ASSERT_EQ(entry(4095, &last), 1);
  EXPECT_EQ(first.value, 5000 - 4096);
  EXPECT_EQ(last.value, 4999);
  EXPECT_EQ(sim().journal().size(), 5000u) << "the sink still saw every call";
}

// ---- Decoder ------------------------------------------------------------------------------------

struct BmpName {
  const char* photo;
  const char* bitmap;
};

class DecoderNaming : public SimulatorTest, public ::testing::WithParamInterface<BmpName> {};

TEST_P(DecoderNaming, WritesTheBitmapBesideThePhoto) {
  std::filesystem::create_directories(path("dir.x"));
  const std::string photo = path(GetParam().photo);
  const std::string bitmap = path(GetParam().bitmap);
  plat::delete_file(bitmap.c_str());
  ASSERT_TRUE(testbed::write_file(photo, Bytes(1024, 0x5A)));
  std::string arg = photo;
  ASSERT_EQ(get_bmp()(arg.data(), 1), 1);
  const Bytes bmp = testbed::read_file(bitmap);
  ASSERT_EQ(bmp.size(), 38862u);
  auto u32 = [&](int at) {
    return static_cast<unsigned>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
  };
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(u32(2), 38862u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 102u);
  EXPECT_EQ(u32(22), 126u);
  EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
  EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
  EXPECT_EQ(u32(30), 0u);
  EXPECT_EQ(testbed::read_file(photo), Bytes(1024, 0x5A)) << "the photo stays as it was";
}

INSTANTIATE_TEST_SUITE_P(Names, DecoderNaming,
                         ::testing::Values(BmpName{"zp.wlt", "zp.bmp"},
                                           BmpName{"XP.WLT", "XP.bmp"},
                                           BmpName{"photo", "photo.bmp"},
                                           BmpName{"a.b.wlt", "a.b.bmp"},
                                           BmpName{"dir.x/photo", "dir.x/photo.bmp"}));

TEST_F(SimulatorTest, BitmapPixelsComeFromThePhoto) {
  auto decode = [&](const Bytes& photo) {
    const std::string file = path("pixels.wlt");
    testbed::write_file(file, photo);
    std::string arg = file;
    EXPECT_EQ(get_bmp()(arg.data(), 2), 1);
    return testbed::read_file(path("pixels.bmp"));
  };
  Bytes one(1024), other(1024);
  for (int i = 0; i < 1024; ++i) one[i] = static_cast<unsigned char>(i * 7), other[i] = 255 - one[i];
  const Bytes a = decode(one), b = decode(other);
  EXPECT_EQ(decode(one), a);
  int differing = 0;
  for (std::size_t i = 54; i < a.size(); ++i) differing += a[i] != b[i];
  EXPECT_GT(differing, 10000);
  for (int row = 0; row < 126; ++row) {  // row padding bytes are zero
    EXPECT_EQ(a[54 + row * 308 + 306], 0);
    EXPECT_EQ(a[54 + row * 308 + 307], 0);
  }
}

TEST_F(SimulatorTest, DecoderFailuresWriteNothing) {
  const std::string photo = path("fail.wlt"), bitmap = path("fail.bmp");
  ASSERT_TRUE(testbed::write_file(photo, Bytes(1024, 3)));
  std::string arg = photo;
  plat::delete_file(bitmap.c_str());

  sim().set_decoder_result(-5);
  EXPECT_EQ(get_bmp()(arg.data(), 2), -5);
  sim().set_decoder_result(1);
  sim().queue_status(SIM_GET_BMP, 0);
  EXPECT_EQ(get_bmp()(arg.data(), 2), 0);
  EXPECT_FALSE(plat::file_exists(bitmap.c_str()));

  std::string missing = path("missing.wlt");
  plat::delete_file(missing.c_str());
  EXPECT_EQ(get_bmp()(missing.data(), 2), SIM_DECODE_UNREADABLE);
  EXPECT_EQ(get_bmp()(nullptr, 2), SIM_DECODE_UNREADABLE);

  // A folder in the bitmap's place cannot be replaced by a file.
  std::filesystem::create_directories(path("blocked.bmp"));
  ASSERT_TRUE(testbed::write_file(path("blocked.wlt"), Bytes(1024, 3)));
  std::string blocked = path("blocked.wlt");
  EXPECT_EQ(get_bmp()(blocked.data(), 2), SIM_DECODE_WRITE_FAILED);

  EXPECT_EQ(get_bmp()(arg.data(), 2), 1);
  EXPECT_TRUE(plat::file_exists(bitmap.c_str()));
}

// ---- Card profiles ------------------------------------------------------------------------------

TEST_F(SimulatorTest, ProfileSetsTheCardAndKeepsTheRestOfTheSample) {
  const std::string photo_hex(2048, 'a');
  ASSERT_TRUE(load_profile(R"({"port": 1003, "name": "李四", "sex": "2", "reserved": "R",
      "appended_address": "北京市", "sam_id": "1-2-3-0042", "photo": ")" + photo_hex + R"(",
      "faults": {"status": {"ReadMngInfo": 145}, "decoder_result": 1}})"));
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  EXPECT_EQ(d.open(kUsb), drv::kStatusOne);
  ASSERT_EQ(d.open(1003), drv::kOk);
  Bytes text(256), photo(1024);
  unsigned tl = 0, pl = 0;
  ASSERT_EQ(d.read_base(1003, text.data(), &tl, photo.data(), &pl, 0), drv::kOk);
  EXPECT_EQ(field_text(text, rec::Field::Name), u"李四" + std::u16string(13, u' '));
  EXPECT_EQ(field_text(text, rec::Field::Sex), u"2");
  EXPECT_EQ(field_text(text, rec::Field::Reserved), u"R" + std::u16string(17, u' '));
  EXPECT_EQ(field_text(text, rec::Field::Nation), u"01") << "absent keys keep the sample's";
  EXPECT_EQ(photo, Bytes(1024, 0xAA));
  Bytes app(280, kFill);
  ASSERT_EQ(d.read_app(1003, app.data(), &tl, 0), drv::kOk);
  EXPECT_EQ(Bytes(app.begin(), app.begin() + 8), testbed::ucs2(u"北京市 "));
  char sam[40] = {};
  ASSERT_EQ(d.sam_id_text(1003, sam, 0), drv::kOk);
  EXPECT_STREQ(sam, "1-2-3-0042");
  EXPECT_EQ(d.read_mng(1003, Bytes(28).data(), 0), 145);
}

TEST_F(SimulatorTest, ProfileFaults) {
  ASSERT_TRUE(load_profile(R"({"appended_address": null,
      "faults": {"no_card": true, "sam_not_answering": true, "decoder_result": -4}})"));
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  Bytes buf(2048);
  unsigned a = 0, b = 0;
  EXPECT_EQ(d.sam_status(kUsb, 0), SIM_STATUS_SAM_NOT_ANSWERING);
  EXPECT_EQ(d.sam_id_text(kUsb, reinterpret_cast<char*>(buf.data()), 0),
            SIM_STATUS_SAM_NOT_ANSWERING);
  EXPECT_EQ(d.find(kUsb, buf.data(), 0), drv::kFindNothing);
  EXPECT_EQ(d.select(kUsb, buf.data(), 0), SIM_STATUS_NO_CARD);
  EXPECT_EQ(d.read_base(kUsb, buf.data(), &a, buf.data(), &b, 0), SIM_STATUS_NO_CARD);
  EXPECT_EQ(d.read_app(kUsb, buf.data(), &a, 0), SIM_STATUS_NO_CARD);
  std::string photo = path("fault.wlt");
  testbed::write_file(photo, Bytes(1024));
  EXPECT_EQ(get_bmp()(photo.data(), 2), -4);

  ASSERT_TRUE(load_profile(R"({"appended_address": null})"));
  EXPECT_EQ(d.read_app(kUsb, buf.data(), &a, 0), drv::kNoAppendedAddress) << "the port stays open";
}

// Taking the card off and putting it back, through the control call and the profile key, on a
// reader that finds a card that was read again and on one that does not.
struct CardCycle {
  const char* profile;  // loaded first; "" for none
  bool hides_read_card;
};

class CardOnReader : public SimulatorTest, public ::testing::WithParamInterface<CardCycle> {
 protected:
  using SetFn = void(WINAPI*)(int);
  void set_on_reader(int on) { fn<SetFn>(SIM_LIB_SDTAPI, "Sim_SetCardOnReader")(on); }
  int find(const Driver& d) {
    Bytes buf(8);
    return d.find(kUsb, buf.data(), 0);
  }
  int select(const Driver& d) {
    Bytes buf(8);
    return d.select(kUsb, buf.data(), 0);
  }
};

TEST_P(CardOnReader, CardIsFoundWhileOnAndAfterBeingPutBack) {
  if (*GetParam().profile) {
    ASSERT_TRUE(load_profile(GetParam().profile));
  } else if (GetParam().hides_read_card) {
    fn<SetFn>(SIM_LIB_SDTAPI, "Sim_SetHidesReadCard")(1);
  }
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  ASSERT_EQ(find(d), drv::kCardFound);
  ASSERT_EQ(select(d), drv::kOk);
  EXPECT_EQ(find(d), drv::kCardFound) << "selecting is no read";
  read_identity(d);
  EXPECT_EQ(find(d), GetParam().hides_read_card ? drv::kFindNothing : drv::kCardFound);
  EXPECT_EQ(select(d), drv::kOk) << "the card still lies there";

  set_on_reader(0);
  EXPECT_EQ(find(d), drv::kFindNothing);
  EXPECT_EQ(select(d), SIM_STATUS_NO_CARD);
  Bytes buf(1024);
  unsigned a = 0, b = 0;
  EXPECT_EQ(d.read_base(kUsb, buf.data(), &a, buf.data(), &b, 0), SIM_STATUS_NO_CARD);
  EXPECT_EQ(d.read_app(kUsb, buf.data(), &a, 0), SIM_STATUS_NO_CARD);

  set_on_reader(1);
  EXPECT_EQ(find(d), drv::kCardFound) << "put back, the card is found again";
  read_identity(d);
  EXPECT_EQ(find(d), GetParam().hides_read_card ? drv::kFindNothing : drv::kCardFound);
  sim().reset();
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  EXPECT_EQ(find(d), drv::kCardFound) << "a reset gives the reader out of the box";
}

INSTANTIATE_TEST_SUITE_P(Readers, CardOnReader,
                         ::testing::Values(CardCycle{"", false}, CardCycle{"", true},
                                           CardCycle{R"({"hides_read_card": true})", true},
                                           CardCycle{R"({"hides_read_card": false})", false}));

TEST_F(SimulatorTest, ProfileCanStartWithTheCardTakenOff) {
  ASSERT_TRUE(load_profile(R"({"card_on_reader": false})"));
  const Driver d = driver(SIM_LIB_SDTAPI, "QDX_");
  ASSERT_EQ(d.open(kUsb), drv::kOk);
  Bytes buf(8);
  EXPECT_EQ(d.find(kUsb, buf.data(), 0), drv::kFindNothing);
  EXPECT_EQ(d.select(kUsb, buf.data(), 0), SIM_STATUS_NO_CARD);
  fn<void(WINAPI*)(int)>(SIM_LIB_SDTAPI, "Sim_SetCardOnReader")(1);
  EXPECT_EQ(d.find(kUsb, buf.data(), 0), drv::kCardFound);
}

struct BadProfile {
  const char* json;
  const char* message;
};

class MalformedProfile : public SimulatorTest, public ::testing::WithParamInterface<BadProfile> {};

TEST_P(MalformedProfile, IsRefusedNamingTheFieldAndChangesNothing) {
  const Driver d = driver(SIM_LIB_SDTAPI, "SDT_");
  sim().set_status(SIM_READ_MNG_INFO, 0x77);
  sim().set_reader_port(1002);
  ASSERT_EQ(d.open(1002), drv::kOk);
  const Bytes sample = read_identity(d, 1002);

  std::string error;
  EXPECT_FALSE(load_profile(GetParam().json, &error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;

  EXPECT_EQ(read_identity(d, 1002), sample);
  EXPECT_EQ(d.read_mng(1002, Bytes(28).data(), 0), 0x77);
  EXPECT_EQ(d.close(1002), drv::kOk);
  EXPECT_EQ(d.open(1002), drv::kOk) << "the reader port is kept";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MalformedProfile,
    ::testing::Values(
        BadProfile{R"({"name": "李四",)", "profile: not valid JSON"},
        BadProfile{R"(["name"])", "profile: a JSON object expected"},
        BadProfile{R"({"nmae": "x"})", "nmae: unknown key"},
        BadProfile{R"({"name": 5})", "name: a string expected"},
        BadProfile{R"({"name": "一二三四五六七八九十一二三四五六"})", "name: 16 characters, at most 15"},
        BadProfile{R"({"address": "别处", "sex": "12"})", "sex: 2 characters, at most 1"},
        BadProfile{R"({"address": "😀"})", "address: character U+1F600 is outside UCS-2"},
        BadProfile{R"({"port": "1001"})", "port: an integer expected"},
        BadProfile{R"({"port": 4294967296})", "port: 4294967296 is out of range"},
        BadProfile{R"({"appended_address": 7})", "appended_address: a string or null expected"},
        BadProfile{R"({"name": "王五", "photo": "abcd"})", "photo: 4 hex digits, exactly 2048 expected"},
        BadProfile{R"({"sam_id": "0123456789012345678901234567890123456789"})",
                   "sam_id: 40 bytes, at most 39"},
        BadProfile{R"({"faults": {"no_card": 1}})", "faults.no_card: true or false expected"},
        BadProfile{R"({"card_on_reader": "no"})", "card_on_reader: true or false expected"},
        BadProfile{R"({"hides_read_card": null})", "hides_read_card: true or false expected"},
        BadProfile{R"({"birth": "20000101", "faults": {"jam": true}})", "faults.jam: unknown key"},
        BadProfile{R"({"faults": {"status": {"ReadAll": 1}}})",
                   "faults.status.ReadAll: unknown entry point"},
        BadProfile{R"({"faults": {"status": {"ReadBaseMsg": 1.5}}})",
                   "faults.status.ReadBaseMsg: an integer expected"},
        BadProfile{R"({"faults": {"hang": 5}})", "faults.hang: an object expected"},
        BadProfile{R"({"faults": {"hang": {"ReadAll": 5}}})", "faults.hang.ReadAll: unknown entry point"},
        BadProfile{R"({"faults": {"hang": {"OpenPort": -1}}})",
                   "faults.hang.OpenPort: -1 is out of range, at least 0"},
        BadProfile{R"({"faults": {"hang": {"GetBmp": "1000"}}})",
                   "faults.hang.GetBmp: an integer expected"},
        BadProfile{R"({"faults": {"crash": {"QDX_OpenPort": true}}})",
                   "faults.crash.QDX_OpenPort: unknown entry point"},
        BadProfile{R"({"faults": {"crash": {"GetBmp": 1}}})",
                   "faults.crash.GetBmp: true or false expected"},
        BadProfile{R"({"faults": {"strikes": 0}})", "faults.strikes: 0 is out of range, at least 1"},
        BadProfile{R"({"faults": {"strikes": true}})", "faults.strikes: an integer expected"}));

TEST_F(SimulatorTest, ProfileWithBadHexOrMissingFileIsRefused) {
  std::string hex(2048, '0');
  hex[17] = 'g';
  std::string error;
  EXPECT_FALSE(load_profile(R"({"photo": ")" + hex + "\"}", &error));
  EXPECT_EQ(error, "photo: not a hex digit at position 17");
  EXPECT_FALSE(sim().load_profile(path("no-such-profile.json"), &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

// Messages for people: where the JSON breaks without the parser's own tag, a folder named as one.
TEST_F(SimulatorTest, ProfileMessagesSayWhatIsWrongInWords) {
  std::string error;
  EXPECT_FALSE(load_profile("{\n  \"name\": \"x\",\n}", &error));
  EXPECT_EQ(error.rfind("profile: not valid JSON: parse error at line 3, column 1: ", 0), 0u) << error;
  EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;

  std::string folder = testbed::output_folder();
  folder.pop_back();  // as a person names it, without the last separator
  EXPECT_FALSE(sim().load_profile(folder, &error));
  EXPECT_EQ(error, "profile: " + folder + " is a folder, not a file");
  EXPECT_FALSE(load_profile(R"({"replay": "."})", &error));
  EXPECT_EQ(error, "replay: " + path(".") + " is a folder, not a file");
}

// Only regular files of a bounded size are read: a pipe or a device named as a profile or a
// recording is refused at once (a pipe without a writer used to block the open), and a file
// past the limit is refused without being read.
TEST_F(SimulatorTest, ProfilesAndRecordingsAreRegularFilesOfBoundedSize) {
#if defined(_WIN32)
  const std::string device = "NUL";
  const std::string pipe = device;
#else
  const std::string device = "/dev/null";
  const std::string pipe = path("profile.fifo");
  ::unlink(pipe.c_str());
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
#endif
  std::string error;
  for (const std::string& named : {device, pipe}) {
    EXPECT_FALSE(sim().load_profile(named, &error)) << named;
    EXPECT_EQ(error, "profile: " + named + " is not a regular file");
#if !defined(_WIN32)
    // A recording named by its whole path (no character a JSON string would escape).
    EXPECT_FALSE(load_profile(R"({"replay": ")" + named + "\"}", &error)) << named;
    EXPECT_EQ(error, "replay: " + named + " is not a regular file");
#endif
  }
#if !defined(_WIN32)
  ::unlink(pipe.c_str());
#endif
  // One byte past 1 MiB of blanks (valid JSON once cut to the limit).
  const std::string large = path("large-profile.json");
  ASSERT_TRUE(testbed::write_file(large, testbed::bytes("{}" + std::string((1 << 20) - 1, ' '))));
  EXPECT_FALSE(sim().load_profile(large, &error));
  EXPECT_EQ(error, "profile: cannot read " + large + " (at most 1 MiB)");
  ASSERT_TRUE(testbed::write_file(large, testbed::bytes("{}" + std::string((1 << 20) - 2, ' '))));
  EXPECT_TRUE(sim().load_profile(large, &error)) << error;
  std::filesystem::remove(large);
}

// A fresh copy of the driver, loaded while RIDEL_SIM_CARD names a profile.
TEST_F(SimulatorTest, EnvironmentProfileLoadsAtLibraryLoad) {
#if defined(_WIN32)
  const std::string copy = path("simenv.dll");
#else
  const std::string copy = path("libsimenv.so");
#endif
  ASSERT_TRUE(plat::copy_file(testbed::simulator_path(SIM_LIB_SDTAPI).c_str(), copy.c_str()));
  const std::string profile = path("env-profile.json");
  ASSERT_TRUE(testbed::write_file(path("env-bad.jsonl"), testbed::bytes("{\"library\":1}\n")));
  // A profile that cannot be used leaves no sample card in its place: every call fails.
  constexpr int kRefused = SIM_STATUS_OFF_RECORDING;
  struct Case {
    const char* json;
    int on_1009, on_usb;  // what OpenPort answers on port 1009 and on the sample's port
  };
  for (const Case& c : {Case{R"({"port": 1009})", drv::kOk, drv::kStatusOne},
                        Case{R"({"port": "bad"})", kRefused, kRefused},
                        Case{R"({"replay": "env-bad.jsonl"})", kRefused, kRefused},
                        Case{R"({"replay": "env-missing.jsonl"})", kRefused, kRefused}}) {
    SCOPED_TRACE(c.json);
    ASSERT_TRUE(testbed::write_file(profile, testbed::bytes(c.json)));
    testbed::set_variable("RIDEL_SIM_CARD", profile);
    plat::Module m = plat::load_library(copy.c_str());
    testbed::set_variable("RIDEL_SIM_CARD", "");
    ASSERT_NE(m, nullptr);
    auto open = reinterpret_cast<drv::OpenPortFn>(plat::entry_point(m, "SDT_OpenPort"));
    EXPECT_EQ(open(1009), c.on_1009);
    EXPECT_EQ(open(kUsb), c.on_usb);
    plat::free_library(m);
  }
  plat::delete_file(copy.c_str());
}


// ---- Faults that block a call or end the process ------------------------------------------------

using Clock = std::chrono::steady_clock;

long long milliseconds_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A bounded hang delays the call, then the call does its own work.
TEST_F(SimulatorTest, BoundedHangBlocksTheCallThenItDoesItsWork) {
  ASSERT_TRUE(load_profile(R"({"faults": {"hang": {"GetSAMStatus": 150, "GetBmp": 100}}})"));
  for (const char* prefix : {"QDX_", "SDT_"}) {
    SCOPED_TRACE(prefix);
    const Driver d = driver(SIM_LIB_SDTAPI, prefix);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(d.sam_status(kUsb, 0), drv::kStatusOne) << "on a port not open, as ever";
    EXPECT_GE(milliseconds_since(start), 150);
  }
  const std::string photo = path("hang.wlt");
  ASSERT_TRUE(testbed::write_file(photo, Bytes(1024, 3)));
  std::string arg = photo;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(get_bmp()(arg.data(), 2), 1);
  EXPECT_GE(milliseconds_since(start), 100);
  EXPECT_TRUE(plat::file_exists(path("hang.bmp").c_str()));
  EXPECT_EQ(sim().count(SIM_GET_SAM_STATUS), 2) << "a call that hung is journalled as any";
}

// Strikes count the calls of an entry point since the library was loaded or reset, under both
// prefixes: the hang strikes only the first ones.
TEST_F(SimulatorTest, StrikesCountCallsSinceTheReset) {
  const Driver qdx = driver(SIM_LIB_SDTAPI, "QDX_"), sdt = driver(SIM_LIB_SDTAPI, "SDT_");
  EXPECT_EQ(qdx.sam_status(kUsb, 0), drv::kStatusOne);  // call 1, before the profile
  ASSERT_TRUE(load_profile(R"({"faults": {"hang": {"GetSAMStatus": 120}, "strikes": 2}})"));
  Clock::time_point start = Clock::now();
  sdt.sam_status(kUsb, 0);  // call 2: struck
  EXPECT_GE(milliseconds_since(start), 120);
  sim().reset();
  ASSERT_TRUE(load_profile(R"({"faults": {"hang": {"GetSAMStatus": 120}, "strikes": 2}})"));
  for (const Driver* d : {&qdx, &sdt}) {  // calls 1 and 2 since the reset: both struck
    start = Clock::now();
    d->sam_status(kUsb, 0);
    EXPECT_GE(milliseconds_since(start), 120);
  }
}

// How a run of sim_fault_host ended.
enum class Ending { Returned, Blocked, Crashed, SetupFailed, Other };

const char* ending_name(Ending e) {
  switch (e) {
    case Ending::Returned: return "returned";
    case Ending::Blocked: return "blocked";
    case Ending::Crashed: return "crashed";
    case Ending::SetupFailed: return "set-up failed";
    case Ending::Other: break;
  }
  return "other";
}

Ending ending_of(int status) {
  int code = status;
#if defined(_WIN32)
  if (static_cast<std::uint32_t>(status) == plat::kCrashExitCode) return Ending::Crashed;
#else
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGABRT ? Ending::Crashed : Ending::Other;
  if (!WIFEXITED(status)) return Ending::Other;
  code = WEXITSTATUS(status);
  if (code == 128 + SIGABRT) return Ending::Crashed;  // a shell between us reports the signal so
#endif
  return code == 0 ? Ending::Returned
         : code == 3 ? Ending::Blocked
         : code == 2 ? Ending::SetupFailed
                     : Ending::Other;
}

struct ProcessFault {
  const char* name;
  int library;         // SimLibrary
  const char* call;    // the export called
  const char* json;    // the profile
  bool environment;    // handed over by RIDEL_SIM_CARD, else by Sim_LoadProfile
  int calls_before;    // calls of the export before the profile is loaded
  Ending ending;
};

class FaultInAProcess : public SimulatorTest, public ::testing::WithParamInterface<ProcessFault> {};

// The host's last call is made on a port that is not open: the faults strike all the same.
TEST_P(FaultInAProcess, EndsAsTheProfileSays) {
  const ProcessFault& f = GetParam();
  const std::string profile = path(std::string("fault-") + f.name + ".json");
  ASSERT_TRUE(testbed::write_file(profile, testbed::bytes(f.json)));
#if defined(_WIN32)
  const std::string host = path("sim_fault_host.exe");
#else
  const std::string host = path("sim_fault_host");
#endif
  constexpr int kWatchdog = 1500;  // ms the host waits for its call before it says "blocked"
  if (f.environment) testbed::set_variable("RIDEL_SIM_CARD", profile);
  const Clock::time_point start = Clock::now();
  const int status = testbed::run_program(
      host, {testbed::simulator_path(f.library), f.environment ? "-" : profile, f.call,
             std::to_string(f.calls_before), std::to_string(kWatchdog)});
  const long long took = milliseconds_since(start);
  if (f.environment) testbed::set_variable("RIDEL_SIM_CARD", "");
  EXPECT_STREQ(ending_name(ending_of(status)), ending_name(f.ending)) << "status " << status;
  if (f.ending == Ending::Blocked) {
    EXPECT_GE(took, kWatchdog);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInAProcess,
    ::testing::Values(
        ProcessFault{"crash_open", SIM_LIB_SDTAPI, "QDX_OpenPort",
                     R"({"faults": {"crash": {"OpenPort": true}}})", false, 0, Ending::Crashed},
        ProcessFault{"crash_read_serial", SIM_LIB_STDAPI, "SDT_ReadBaseMsg",
                     R"({"port": 3, "faults": {"crash": {"ReadBaseMsg": true}}})", true, 0,
                     Ending::Crashed},
        ProcessFault{"crash_decoder", SIM_LIB_WLTRS, "GetBmp",
                     R"({"faults": {"crash": {"GetBmp": true}}})", false, 0, Ending::Crashed},
        ProcessFault{"crash_wins_over_hang", SIM_LIB_SDTAPI, "SDT_OpenPort",
                     R"({"faults": {"hang": {"OpenPort": 0}, "crash": {"OpenPort": true}}})",
                     false, 0, Ending::Crashed},
        ProcessFault{"crash_false", SIM_LIB_SDTAPI, "QDX_OpenPort",
                     R"({"faults": {"crash": {"OpenPort": false}}})", false, 0, Ending::Returned},
        ProcessFault{"crash_elsewhere", SIM_LIB_SDTAPI, "QDX_OpenPort",
                     R"({"faults": {"crash": {"ClosePort": true}}})", false, 0, Ending::Returned},
        ProcessFault{"crash_struck_out", SIM_LIB_SDTAPI, "SDT_StartFindIDCard",
                     R"({"faults": {"crash": {"StartFindIDCard": true}, "strikes": 2}})", false, 2,
                     Ending::Returned},
        ProcessFault{"crash_last_strike", SIM_LIB_SDTAPI, "SDT_StartFindIDCard",
                     R"({"faults": {"crash": {"StartFindIDCard": true}, "strikes": 3}})", false, 2,
                     Ending::Crashed},
        ProcessFault{"hang_forever", SIM_LIB_SDTAPI, "SDT_StartFindIDCard",
                     R"({"faults": {"hang": {"StartFindIDCard": 0}}})", false, 0, Ending::Blocked},
        ProcessFault{"hang_forever_serial", SIM_LIB_STDAPI, "QDX_OpenPort",
                     R"({"port": 3, "faults": {"hang": {"OpenPort": 0}}})", true, 0,
                     Ending::Blocked},
        ProcessFault{"hang_forever_decoder", SIM_LIB_WLTRS, "GetBmp",
                     R"({"faults": {"hang": {"GetBmp": 0}}})", true, 0, Ending::Blocked},
        ProcessFault{"hang_struck_out", SIM_LIB_WLTRS, "GetBmp",
                     R"({"faults": {"hang": {"GetBmp": 0}, "strikes": 1}})", false, 1,
                     Ending::Returned}),
    [](const ::testing::TestParamInfo<ProcessFault>& info) { return info.param.name; });

}  // namespace
