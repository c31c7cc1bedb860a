// Record, then replay: each edition reads through the recording driver in front of the simulator
// (faults injected by a card profile), then reads again from the recording through the simulator
// alone, and must give the same result and the same result files; a third read replays through the
// recording driver once more, whose recording must list the same calls with the same answers as
// the first. Each read runs in a process of its own (recorder_read), as at an application's desk.
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "tests/support/testbed_gtest.h"
#include "tools/editions/edition.h"
#include "tools/recorder/recorder.h"
#include "recording/recording.h"

namespace {

namespace fs = std::filesystem;
using recording::Call;

const char kSep = plat::kPathSeparator;

std::string here() { return testbed::output_folder(); }
std::string chain_root() { return here() + "chain"; }
std::string chain_folder() { return chain_root() + kSep + "simulator" + kSep; }
// The build folder, whose simulator folder holds the simulator alone.
std::string build_root() {
  const std::string folder = testbed::build_folder();
  return folder.substr(0, folder.size() - 1);
}

std::string text_of(const testbed::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct Read {
  int status = -1;
  std::string out, err;
  std::map<std::string, testbed::Bytes> files;  // the edition's result files it left
};

// One read through `edition` with the driver folder of `root`, the simulator's card profile
// `profile` and the card data kept in a recording or not.
Read read(const idcard::EditionInfo& edition, const std::string& root, const std::string& profile,
          bool keep) {
  for (const char* name : edition.result_files) plat::delete_file((here() + name).c_str());
  const testbed::LibraryFile library =
      edition.id == idcard::Edition::Qdx   ? testbed::kQdxEdition
      : edition.id == idcard::Edition::Sdt ? testbed::kSdtEdition
                                           : testbed::kVantrelEdition;
#if defined(_WIN32)
  const std::string program = here() + "recorder_read.exe";
#else
  const std::string program = here() + "recorder_read";
#endif
  const std::string command = "\"" + program + "\" \"" + root + "\" " + edition.name + " \"" +
                              testbed::library_path(library) + "\" >\"" + here() +
                              "read.out\" 2>\"" + here() + "read.err\"";
  testbed::set_variable("RIDEL_SIM_CARD", profile);
  testbed::set_variable(recorder::kKeepVariable, keep ? "1" : "");
  Read r;
  r.status = testbed::run_command(command);
  testbed::set_variable("RIDEL_SIM_CARD", "");
  testbed::set_variable(recorder::kKeepVariable, "");
  r.out = text_of(testbed::read_file(here() + "read.out"));
  r.err = text_of(testbed::read_file(here() + "read.err"));
  for (const char* name : edition.result_files) {
    const std::string path = here() + name;
    if (plat::file_exists(path.c_str())) r.files[name] = testbed::read_file(path);
    plat::delete_file(path.c_str());
  }
  return r;
}

// Moves the recording out of the driver folder to `to` and parses it.
std::vector<Call> take_recording(const std::string& to, std::string* text) {
  const std::string from = chain_folder() + recorder::kRecordingFile;
  std::error_code error;
  fs::remove(to, error);
  fs::rename(from, to, error);
  EXPECT_FALSE(error) << "no recording at " << from;
  *text = text_of(testbed::read_file(to));
  std::string why;
  std::optional<std::vector<Call>> calls = recording::parse(*text, &why);
  EXPECT_TRUE(calls) << why;
  return calls ? *calls : std::vector<Call>();
}

std::string hex_of(const testbed::Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) (out += digits[b >> 4]) += digits[b & 0xF];
  return out;
}

// The simulator's sample card, which the reads below find unless a profile says otherwise.
const std::string kIdNumber = "44010619880808107X";
const std::u16string kName = u"陈志远";

// The fault profiles a session is recorded with.
struct Fault {
  const char* name;
  const char* profile;  // the card profile's JSON
};
const Fault kFaults[] = {
    {"Healthy", "{}"},
    {"NoCard", R"({"faults": {"no_card": true}})"},
    {"SamFailing", R"({"faults": {"sam_not_answering": true}})"},
    {"NoAppendedAddress", R"({"appended_address": null})"},
    {"DecoderFailing", R"({"faults": {"decoder_result": -1}})"},
};

// The recording driver in the driver folder of the recorded reads, beside the simulator under the
// names it passes calls on to (built there); no recording yet; the profiles of a case.
class Session : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const testbed::LibraryFile& sim : testbed::kSimulatorLibraries) {
      const testbed::LibraryFile recorder{"recorder", sim.windows_name};
      const std::string to = chain_folder() + testbed::file_name(sim);
      ASSERT_TRUE(plat::copy_file(testbed::library_path(recorder).c_str(), to.c_str()))
          << testbed::library_path(recorder) << " to " << to;
    }
    plat::delete_file((chain_folder() + recorder::kKeepFile).c_str());
  }

  void start(const char* profile) {
    plat::delete_file((chain_folder() + recorder::kRecordingFile).c_str());
    profile_ = here() + "profile.json";
    replay_ = here() + "replay.json";
    ASSERT_TRUE(testbed::write_file(profile_, testbed::bytes(profile)));
    // A relative path: the recording beside the profile.
    ASSERT_TRUE(testbed::write_file(replay_, testbed::bytes(R"({"replay": "recorded.jsonl"})")));
  }

  std::string profile_, replay_;
};

using Case = std::tuple<idcard::Edition, int, bool>;  // edition, fault, card data kept

class RecordReplay : public Session, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override { start(kFaults[fault()].profile); }

  const idcard::EditionInfo& edition() const { return idcard::edition_info(std::get<0>(GetParam())); }
  int fault() const { return std::get<1>(GetParam()); }
  bool keep() const { return std::get<2>(GetParam()); }
};

TEST_P(RecordReplay, ReplayGivesTheRecordedResultsFilesAndCalls) {
  const Read live = read(edition(), chain_root(), profile_, keep());
  std::string recorded_text;
  const std::vector<Call> recorded = take_recording(here() + "recorded.jsonl", &recorded_text);
  ASSERT_FALSE(recorded.empty()) << live.out << live.err;

  // The simulator alone, from the recording.
  const Read replayed = read(edition(), build_root(), replay_, false);
  EXPECT_EQ(replayed.err.find("simulator:"), std::string::npos) << replayed.err;
  EXPECT_EQ(replayed.status, live.status) << live.out << replayed.out;
  EXPECT_EQ(replayed.out.substr(0, 3), live.out.substr(0, 3)) << live.out << replayed.out;

  if (fault() == 0) {
    EXPECT_NE(live.out.find(kIdNumber), std::string::npos) << "not the sample card: " << live.out;
  }
  // Kept card data is told on standard error and in the recording, once by each library that
  // keeps it; synthetic data needs no warning.
  const std::string warning = "keeps the card's own data (RIDEL_RECORD_CARD_DATA=1): it holds identity data";
  const auto count = [](const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  std::size_t libraries = 0;
  for (int library = 0; library < SIM_LIB_COUNT; ++library) {
    libraries += std::any_of(recorded.begin(), recorded.end(),
                             [&](const Call& c) { return c.library == library; });
  }
  EXPECT_EQ(count(live.err, "recorder: the recording " + chain_folder() + recorder::kRecordingFile + " " + warning),
            keep() ? libraries : 0u) << live.err;
  EXPECT_EQ(count(recorded_text, "\"warning\":"), keep() ? libraries : 0u) << recorded_text;
  if (keep()) {
    EXPECT_EQ(replayed.out, live.out);
    EXPECT_EQ(replayed.files, live.files);
  } else {
    // The same files, of the same sizes, but none holds the card's data.
    ASSERT_EQ(replayed.files.size(), live.files.size());
    for (const auto& [name, bytes] : live.files) {
      ASSERT_TRUE(replayed.files.count(name)) << name;
      EXPECT_EQ(replayed.files.at(name).size(), bytes.size()) << name;
      EXPECT_EQ(text_of(replayed.files.at(name)).find(kIdNumber), std::string::npos) << name;
    }
    EXPECT_EQ(replayed.out.find(kIdNumber), std::string::npos) << replayed.out;
    EXPECT_EQ(recorded_text.find(hex_of(testbed::ucs2(u"44010619880808107X"))), std::string::npos);
    EXPECT_EQ(recorded_text.find(hex_of(testbed::ucs2(kName))), std::string::npos);
  }
  // The photo the edition left is the recording's photo, real or synthetic.
  for (const Call& call : recorded) {
    if (call.entry != SIM_READ_BASE_MSG || !call.bytes.count("photo")) continue;
    bool found = false;
    for (const auto& [name, bytes] : replayed.files) found |= bytes == call.bytes.at("photo");
    EXPECT_TRUE(found) << "no result file holds the recorded photo";
  }

  // The calls the simulator received in replay, recorded with what it answered, are the recorded
  // ones with the recorded answers.
  const Read again = read(edition(), chain_root(), replay_, true);
  std::string again_text;
  const std::vector<Call> calls = take_recording(here() + "again.jsonl", &again_text);
  EXPECT_EQ(again.files, replayed.files);
  ASSERT_EQ(calls.size(), recorded.size()) << recorded_text << "\n" << again_text;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1) + ": " + recording::describe(recorded[i]));
    EXPECT_TRUE(recording::same_call(recorded[i], calls[i])) << recording::describe(calls[i]);
    EXPECT_EQ(calls[i].status, recorded[i].status);
    EXPECT_EQ(calls[i].counts, recorded[i].counts);
    EXPECT_EQ(calls[i].bytes, recorded[i].bytes);
    EXPECT_EQ(calls[i].bitmap, recorded[i].bitmap);
  }
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(idcard::edition_info(std::get<0>(info.param)).name) +
         kFaults[std::get<1>(info.param)].name +
         (std::get<2>(info.param) ? "KeepingCardData" : "Synthetic");
}

INSTANTIATE_TEST_SUITE_P(
    EveryEdition, RecordReplay,
    ::testing::Combine(::testing::Values(idcard::Edition::Qdx, idcard::Edition::Sdt,
                                         idcard::Edition::Vantrel),
                       ::testing::Range(0, static_cast<int>(std::size(kFaults))),
                       ::testing::Bool()),
    case_name);

// A read that leaves the recorded sequence is told so in one line and fails: here the SDT
// edition, whose calls carry the other prefix, replays a recording of the QDX edition's read.
class ReplayMismatch : public Session {
 protected:
  void SetUp() override { start("{}"); }
};

TEST_F(ReplayMismatch, AnotherEditionLeavesTheRecordingAtItsFirstCall) {
  read(idcard::edition_info(idcard::Edition::Qdx), chain_root(), profile_, true);
  std::string text;
  take_recording(here() + "recorded.jsonl", &text);
  const Read replayed = read(idcard::edition_info(idcard::Edition::Sdt), build_root(), replay_, false);
  EXPECT_NE(replayed.status, 0);
  const std::string line =
      "left the recording at call 1: expected sdtapi QDX_OpenPort(port 1001), came sdtapi "
      "SDT_OpenPort(port 1001)";
  EXPECT_NE(replayed.err.find("simulator: replay of "), std::string::npos) << replayed.err;
  EXPECT_NE(replayed.err.find(line), std::string::npos) << replayed.err;
  // One line, however many calls came after it.
  EXPECT_EQ(std::count(replayed.err.begin(), replayed.err.end(), '\n'), 1) << replayed.err;
}

// ---- The recording driver without its real library ---------------------------------------------

// A recording driver in a folder of its own, with or without the real library beside it.
class Lonely : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::error_code error;
    fs::remove_all(folder(), error);
    fs::create_directories(folder());
    ASSERT_TRUE(plat::copy_file(testbed::library_path({"recorder", drv::kUsbDriverFile}).c_str(),
                                library().c_str()));
    if (GetParam()) {
      const std::string real = folder() + std::string(plat::library_file_name("sdtapi.real.dll"));
      ASSERT_TRUE(plat::copy_file(testbed::simulator_path(SIM_LIB_SDTAPI).c_str(), real.c_str()));
    }
  }
  static std::string folder() { return here() + "lonely" + kSep; }
  // Under a name of its own, so that it is never taken for a library already loaded.
#if defined(_WIN32)
  static std::string library() { return folder() + "lonely-recorder.dll"; }
#else
  static std::string library() { return folder() + "liblonely-recorder.so"; }
#endif
};

TEST_P(Lonely, WithoutItsRealLibraryItAnswersAsAMissingDriver) {
  const bool real = GetParam();
  plat::Module m = plat::load_library(library().c_str());
#if defined(_WIN32)
  // Windows: it refuses to load, as a driver that is not there.
  ASSERT_EQ(m != nullptr, real);
  if (!m) return;
#else
  ASSERT_NE(m, nullptr) << "a shared object cannot refuse its load";
#endif
  using Keeps = int(WINAPI*)();
  const auto keeps = reinterpret_cast<Keeps>(plat::entry_point(m, "Rec_KeepsCardData"));
  ASSERT_NE(keeps, nullptr) << "the export that tells a recording driver";
  EXPECT_EQ(keeps(), 0);
  const std::string keep_file = folder() + recorder::kKeepFile;
  ASSERT_TRUE(testbed::write_file(keep_file, {}));
  EXPECT_EQ(keeps(), 1);
  plat::delete_file(keep_file.c_str());

  const auto open = reinterpret_cast<drv::OpenPortFn>(plat::entry_point(m, "SDT_OpenPort"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open(1001), real ? drv::kOk : drv::kNotBound);
  const std::string recorded = text_of(testbed::read_file(folder() + recorder::kRecordingFile));
  const bool noted = recorded.find("\"note\":\"the real library ") != std::string::npos;
  EXPECT_EQ(noted, !real) << recorded;
  EXPECT_NE(recorded.find("\"status\":" + std::to_string(real ? drv::kOk : drv::kNotBound)),
            std::string::npos)
      << recorded;
  plat::free_library(m);
}

INSTANTIATE_TEST_SUITE_P(RealLibrary, Lonely, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Beside") : std::string("Missing");
                         });

// ---- The recording's own rules, without a driver ----------------------------------------------

Call read_base_msg(const testbed::Bytes& identity) {
  Call call;
  call.entry = SIM_READ_BASE_MSG;
  call.status = drv::kOk;
  call.bytes["text"] = identity;
  call.bytes["photo"] = testbed::Bytes(1024, 0x5A);
  return call;
}

std::u16string field_of(const testbed::Bytes& record, rec::Field field) {
  const rec::Span s = rec::span(field);
  std::u16string out;
  for (int i = 0; i < s.units(); ++i)
    out += static_cast<char16_t>(record[s.offset + 2 * i] | record[s.offset + 2 * i + 1] << 8);
  return out.substr(0, out.find_last_not_of(u' ') + 1);
}

struct SyntheticField {
  rec::Field field;
  std::u16string card, synthetic;
};

TEST(SyntheticCardData, KeepsEachFieldsShapeButNotItsData) {
  const SyntheticField fields[] = {
      {rec::Field::Name, u"陈志远", u"测试样"},
      {rec::Field::Sex, u"2", u"2"},
      {rec::Field::Nation, u"03", u"03"},
      {rec::Field::Birth, u"19880808", u"19800101"},
      {rec::Field::Address, u"广州市天河区12号 Rm b", u"测试样例数据67样 Xx x"},
      {rec::Field::IdNumber, u"44010619880808107X", u"00000019800101000X"},
      {rec::Field::Authority, u"广州市公安局", u"测试样例数据"},
      {rec::Field::ValidFrom, u"20150101", u"20200101"},
      {rec::Field::ValidTo, u"长期", u"长期"},
  };
  testbed::IdentityRecord identity;
  for (const SyntheticField& f : fields) identity.set(f.field, f.card);
  Call call = read_base_msg(identity.bytes());
  recording::make_synthetic(call);
  EXPECT_FALSE(call.card_data_kept);
  ASSERT_EQ(call.bytes["text"].size(), identity.bytes().size());
  for (const SyntheticField& f : fields) {
    EXPECT_EQ(field_of(call.bytes["text"], f.field), f.synthetic) << static_cast<int>(f.field);
  }
  EXPECT_EQ(call.bytes["photo"].size(), 1024u);
  EXPECT_NE(call.bytes["photo"], testbed::Bytes(1024, 0x5A));
}

TEST(SyntheticCardData, ReplacesTheAppendedAddressAndManagementInfoButNotTheSamId) {
  Call address{}, info{}, sam{};
  address.entry = SIM_READ_NEW_APP_MSG;
  address.bytes["message"] = testbed::ucs2(u"深圳市南山区8号");
  address.bytes["message"].resize(280, 0);
  info.entry = SIM_READ_MNG_INFO;
  info.bytes["info"] = testbed::Bytes(28, 0x33);
  sam.entry = SIM_GET_SAM_ID_TO_STR;
  sam.bytes["text"] = testbed::bytes("05.01-20180418-0000036512");
  for (Call* c : {&address, &info, &sam}) recording::make_synthetic(*c);
  testbed::Bytes expected = testbed::ucs2(u"测试样例数据6试");
  expected.resize(280, 0);
  EXPECT_EQ(address.bytes["message"], expected);
  EXPECT_EQ(info.bytes["info"].size(), 28u);
  EXPECT_NE(info.bytes["info"], testbed::Bytes(28, 0x33));
  EXPECT_EQ(sam.bytes["text"], testbed::bytes("05.01-20180418-0000036512"));
}

TEST(RecordingLines, ACallSurvivesItsLineAndIsMatchedByItsPhotosFileName) {
  Call call;
  call.library = SIM_LIB_WLTRS;
  call.entry = SIM_GET_BMP;
  call.args = {{"selector", 2}};
  call.path = std::string("C:\\\xD5\xC5\\zp.wlt");  // a GBK folder name
  call.status = 1;
  call.bitmap = true;
  call.microseconds = 1500;
  std::string why;
  const std::optional<Call> back = recording::from_line(recording::to_line(call), &why);
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(back->path, call.path);
  EXPECT_EQ(back->bitmap, call.bitmap);
  EXPECT_EQ(back->microseconds, 1500);

  struct Came {
    const char* path;
    int selector;
    bool same;
  };
  for (const Came& c : {Came{"/home/desk/zp.wlt", 2, true}, Came{"C:\\app\\xp.wlt", 2, false},
                        Came{"/home/desk/zp.wlt", 1, false}}) {
    Call came = *back;
    came.path = c.path;
    came.args = {{"selector", c.selector}};
    EXPECT_EQ(recording::same_call(*back, came), c.same) << c.path << " " << c.selector;
  }
}

TEST(RecordingLines, WarningLinesArePassedOver) {
  const std::string text = recording::warning_line(42, "kept") + "\n" +
                           "{\"library\":\"sdtapi\",\"call\":\"QDX_OpenPort\",\"status\":144}\n";
  EXPECT_EQ(recording::warning_line(42, "kept"), R"({"process":42,"warning":"kept"})");
  std::string why;
  const std::optional<std::vector<Call>> calls = recording::parse(text, &why);
  ASSERT_TRUE(calls) << why;
  ASSERT_EQ(calls->size(), 1u);
  EXPECT_EQ((*calls)[0].entry, SIM_OPEN_PORT);
  // A line with a call is a call, whatever else it holds.
  EXPECT_FALSE(recording::parse(R"({"warning":"x","call":"QDX_OpenPort"})", &why));
  EXPECT_EQ(why, "line 1: library: a name expected");
}

TEST(RecordingLines, AMalformedLineIsNamedByItsNumber) {
  std::string why;
  EXPECT_FALSE(recording::parse(
      "{\"library\":\"sdtapi\",\"call\":\"QDX_OpenPort\",\"status\":144}\n\n{\"library\":\"sdtapi\"}\n",
      &why));
  EXPECT_EQ(why, "line 3: call: a name expected");
  EXPECT_FALSE(recording::parse("{\"library\":\"x\",\"call\":\"OpenPort\",\"status\":1}", &why));
  EXPECT_EQ(why, "line 1: library: unknown \"x\"");
}

}  // namespace
