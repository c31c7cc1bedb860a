// The reader process against the simulated reader (every edition reads in a folder of its own,
// which goes with the process, and nothing lands beside the program), and its faults against a
// reader host that misbehaves on purpose (stub_host.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tests/support/testbed.h"
#include "tools/reader/folder.h"
#include "tools/reader/messages.h"
#include "tools/reader/reader_process.h"

namespace {

namespace fs = std::filesystem;
using idcard::ReaderAnswer;
using idcard::ReaderFault;
using idcard::ReaderOptions;
using idcard::ReaderProcess;
using std::chrono::milliseconds;

#if defined(_WIN32)
constexpr const char* kExe = ".exe";
#else
constexpr const char* kExe = "";
#endif

constexpr milliseconds kDeadline{20000};
constexpr const char* kIdNumber = "44010619880808107X";

ReaderOptions options(const char* edition) {
  ReaderOptions o;
  EXPECT_TRUE(idcard::set_edition(o, edition));
  o.root = testbed::build_folder();
  o.host = testbed::build_path("tools/idcard-reader") + kExe;
  o.simulator = true;
  return o;
}

ReaderOptions stub(const std::string& behaviour) {
  ReaderOptions o = options("sdt");
  o.host = testbed::build_path("tests/reader/reader_stub_host") + kExe;
  o.card = testbed::output_folder() + behaviour;
  return o;
}

std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(folder), ec)) names.insert(e.path().filename().string());
  return names;
}

// The folders of this process's reader processes in the private place.
std::vector<std::string> our_folders() {
  const std::string prefix =
      std::string(idcard::reader::kFolderPrefix) + std::to_string(plat::current_process_id()) + "-";
  std::vector<std::string> found;
  for (const std::string& name : names_in(plat::private_folder_base()))
    if (name.rfind(prefix, 0) == 0) found.push_back(name);
  return found;
}

std::string card_file(const std::string& name, const std::string& json) {
  const std::string path = testbed::output_folder() + name;
  EXPECT_TRUE(testbed::write_file(path, testbed::bytes(json)));
  return path;
}

const std::string* field(const ReaderAnswer& a, const char* key) { return a.result.card.find(key); }

// Every file the edition could leave beside a program, under any name it writes.
bool result_file_beside(const std::string& folder) {
  for (const idcard::EditionInfo& e : idcard::editions())
    for (const char* name : e.result_files)
      if (plat::file_exists((folder + name).c_str())) return true;
  return false;
}

struct EditionCase {
  const char* edition;
  int mode;
  std::set<std::string> kept;  // the folder's files between reads
};

TEST(ReaderProcess, EveryEditionReadsInItsOwnFolderWhichGoesWithIt) {
  const std::string host = idcard::reader::kHostProgram;
  const std::string lock = idcard::reader::kLockFile;
  const std::string ridel = testbed::file_name(testbed::kSdtEdition);
  const std::string vantrel = idcard::edition_info(idcard::Edition::Vantrel).deployed_as;
  const std::vector<EditionCase> cases = {
      {"sdt", 0, {host, lock, ridel}},
      {"qdx", 0, {host, lock, ridel}},
      {"qdx", 1, {host, lock, ridel}},
      {"vantrel", 0, {host, lock, vantrel, "idcrerror.log"}},
  };
  for (const EditionCase& c : cases) {
    SCOPED_TRACE(std::string(c.edition) + " mode " + std::to_string(c.mode));
    ReaderOptions o = options(c.edition);
    o.mode = c.mode;
    ReaderProcess reader(o);
    const ReaderAnswer started = reader.start(kDeadline);
    ASSERT_EQ(started.fault, ReaderFault::None) << started.message;
    const std::string folder = reader.folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.rfind(plat::private_folder_base(), 0), 0u) << folder;
#if !defined(_WIN32)
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
#endif
    const std::int64_t pid = reader.pid();
    for (int round = 0; round < 2; ++round) {
      const ReaderAnswer a = reader.read(kDeadline);
      ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
      ASSERT_TRUE(a.result.ok) << a.result.error.line();
      const std::string* id = field(a, "id_number");
      ASSERT_NE(id, nullptr);
      EXPECT_EQ(*id, kIdNumber);
      EXPECT_EQ(a.photo.substr(0, 2), "BM");
      EXPECT_FALSE(a.files.empty());
      EXPECT_NE(a.driver.find(testbed::file_name(testbed::kSimulatorLibraries[SIM_LIB_SDTAPI])), std::string::npos)
          << a.driver;
      // The read's files went before the answer; the process is the same one.
      EXPECT_EQ(names_in(folder), c.kept);
      EXPECT_EQ(reader.pid(), pid);
    }
    EXPECT_FALSE(result_file_beside(testbed::output_folder()));
    EXPECT_FALSE(result_file_beside(testbed::build_path("tools/")));
    reader.stop();
    EXPECT_FALSE(reader.running());
    EXPECT_FALSE(fs::exists(fs::path(folder)));
    EXPECT_FALSE(plat::process_runs(pid));
  }
}

TEST(ReaderProcess, QdxMode6FieldsComeFromTheFilesNamedByTheSam) {
  ReaderOptions o = options("qdx");
  o.mode = 6;
  ReaderProcess reader(o);
  const ReaderAnswer a = reader.read(kDeadline);
  ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
  ASSERT_TRUE(a.result.ok) << a.result.error.line();
  ASSERT_NE(field(a, "id_number"), nullptr);
  EXPECT_EQ(*field(a, "id_number"), kIdNumber);
  ASSERT_NE(field(a, "name"), nullptr);
  EXPECT_FALSE(field(a, "name")->empty());
  EXPECT_EQ(a.photo.substr(0, 2), "BM");
  std::set<std::string> kinds;
  for (const auto& [name, size] : a.files)
    for (const char* pattern : {"<SAM>.txt", "<SAM>.wlt", "<SAM>.bmp"})
      if (idcard::result_name_matches(pattern, name)) kinds.insert(pattern);
  EXPECT_EQ(kinds.size(), 3u);
  EXPECT_EQ(names_in(reader.folder()).size(), 3u);  // the program, the edition, the lock
}

TEST(ReaderProcess, AFailedReadIsAnAnswerWithTheEditionsLog) {
  const std::string no_card = card_file("reader-no-card.json", "{\"faults\": {\"no_card\": true}}");
  for (const char* edition : {"sdt", "qdx", "vantrel"}) {
    SCOPED_TRACE(edition);
    ReaderOptions o = options(edition);
    o.card = no_card;
    ReaderProcess reader(o);
    const ReaderAnswer a = reader.read(kDeadline);
    ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
    EXPECT_FALSE(a.result.ok);
    EXPECT_EQ(a.result.error.kind, idcard::Failure::NoCard) << a.result.error.line();
    EXPECT_TRUE(a.photo.empty());
    // Only the vantrel edition keeps a log.
    EXPECT_EQ(a.log.empty(), std::string(edition) != "vantrel");
    EXPECT_TRUE(reader.running());
  }
}

TEST(ReaderProcess, AProfileReplacedBetweenReadsAppliesToTheNextRead) {
  const std::string profile = card_file("reader-replaced.json", "{\"faults\": {\"no_card\": true}}");
  ReaderOptions o = options("sdt");
  o.card = profile;
  ReaderProcess reader(o);
  const ReaderAnswer first = reader.read(kDeadline);
  ASSERT_EQ(first.fault, ReaderFault::None) << first.message;
  EXPECT_EQ(first.result.error.kind, idcard::Failure::NoCard);
  const std::int64_t pid = reader.pid();
  card_file("reader-replaced.json", "{}");
  const ReaderAnswer second = reader.read(kDeadline);
  ASSERT_EQ(second.fault, ReaderFault::None) << second.message;
  EXPECT_TRUE(second.result.ok) << second.result.error.line();
  EXPECT_EQ(reader.pid(), pid);
  card_file("reader-replaced.json", "{\"faults\": ");
  const ReaderAnswer refused = reader.read(kDeadline);
  EXPECT_FALSE(refused.result.ok);
  EXPECT_NE(refused.result.error.message.find("reader-replaced.json"), std::string::npos)
      << refused.result.error.line();
}

TEST(ReaderProcess, NoReaderNamesTheReasonAndLeavesNothing) {
  struct Case {
    const char* name;
    ReaderOptions o;
    const char* said;
  };
  ReaderOptions missing_library = options("sdt");
  missing_library.library = testbed::output_folder() + "no-such-ridel.dll";
  ReaderOptions missing_host = options("sdt");
  missing_host.host = testbed::output_folder() + "no-such-reader-host";
  ReaderOptions bad_profile = options("qdx");
  bad_profile.card = card_file("reader-malformed.json", "{\"faults\": ");
  ReaderOptions missing_folder = options("sdt");
  missing_folder.reader_folder = testbed::output_folder() + "no-such-reader-folder";
  const Case cases[] = {
      {"library missing", missing_library, "no-such-ridel.dll"},
      {"reader folder missing", missing_folder, "no-such-reader-folder"},
      {"host program missing", missing_host, "no-such-reader-host"},
      {"card profile refused", bad_profile, "reader-malformed.json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderProcess reader(c.o);
    const ReaderAnswer a = reader.read(kDeadline);
    EXPECT_EQ(a.fault, ReaderFault::NoReader);
    EXPECT_NE(a.message.find(c.said), std::string::npos) << a.message;
    EXPECT_FALSE(reader.running());
    EXPECT_TRUE(our_folders().empty());
  }
}

// A service whose policy allows programs in one folder only keeps its reader folders there.
TEST(ReaderProcess, AGivenReaderFolderHoldsTheProcesssFolder) {
  const std::string base = testbed::output_folder() + "reader-folders";
  fs::remove_all(fs::path(base));
  ASSERT_TRUE(fs::create_directories(fs::path(base)));
  ReaderOptions o = options("sdt");
  o.reader_folder = base;
  {
    ReaderProcess reader(o);
    const ReaderAnswer a = reader.read(kDeadline);
    ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
    EXPECT_TRUE(a.result.ok) << a.result.error.line();
    EXPECT_EQ(reader.folder().rfind(base + plat::kPathSeparator, 0), 0u) << reader.folder();
    EXPECT_TRUE(our_folders().empty());
  }
  EXPECT_TRUE(names_in(base).empty());
  fs::remove_all(fs::path(base));
}

TEST(ReaderProcess, FoldersOfEndedReaderProcessesGoAtTheNextStart) {
  const std::string base = plat::private_folder_base();
  const std::string prefix = base + std::string(idcard::reader::kFolderPrefix) + "0-";
  const std::string ended = prefix + "ended", running = prefix + "running", making = prefix + "making";
  for (const std::string& f : {ended, running, making}) fs::create_directories(fs::path(f));
  for (const std::string& f : {ended, running})
    ASSERT_TRUE(testbed::write_file(f + plat::kPathSeparator + idcard::reader::kLockFile, {}));
  ASSERT_TRUE(testbed::write_file(ended + plat::kPathSeparator + "wx.txt", testbed::bytes("card")));
  {
    const std::string lock = running + plat::kPathSeparator + idcard::reader::kLockFile;
    plat::File held = plat::open_file(lock.c_str(), true, plat::Share::None);
    ASSERT_TRUE(held.is_open());
    ReaderProcess reader(options("sdt"));
    ASSERT_EQ(reader.start(kDeadline).fault, ReaderFault::None);
    EXPECT_FALSE(fs::exists(fs::path(ended)));
    EXPECT_TRUE(fs::exists(fs::path(running)));  // its lock is held
    EXPECT_TRUE(fs::exists(fs::path(making)));   // no lock yet: being made
  }
  EXPECT_GE(idcard::reader::remove_ended_folders(base), 1);  // the lock is free now
  EXPECT_FALSE(fs::exists(fs::path(running)));
  fs::remove_all(fs::path(making));
}

TEST(ReaderProcess, FaultsEndTheProcessAndNameTheCall) {
  struct Case {
    const char* behaviour;
    ReaderFault fault;
    const char* said;
    bool in_read;
  };
  const Case cases[] = {
      {"hang-read", ReaderFault::Timeout, "ReadBaseInfo(1)", true},
      {"crash-read", ReaderFault::Crashed, "ReadBaseInfo(1)", true},
      {"garbage-read", ReaderFault::Crashed, "no message", true},
      {"hang-load", ReaderFault::NoReader, "did not answer", false},
      {"exit-load", ReaderFault::NoReader, "ended", false},
      {"refuse-load", ReaderFault::NoReader, "the stub refuses", false},
  };
  const milliseconds deadline{1500};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    ReaderProcess reader(stub(c.behaviour));
    std::int64_t first = 0;
    if (c.in_read) {
      ASSERT_EQ(reader.start(kDeadline).fault, ReaderFault::None);
      first = reader.pid();
    }
    const auto before = std::chrono::steady_clock::now();
    const ReaderAnswer a = c.in_read ? reader.read(deadline) : reader.start(deadline);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(a.fault, c.fault) << a.message;
    EXPECT_NE(a.message.find(c.said), std::string::npos) << a.message;
    EXPECT_LT(took, deadline + std::chrono::seconds(1));
    EXPECT_FALSE(reader.running());
    EXPECT_TRUE(our_folders().empty());
    if (!c.in_read) continue;
    EXPECT_EQ(a.step, "read");
    EXPECT_EQ(a.call, "ReadBaseInfo(1)");
    EXPECT_FALSE(plat::process_runs(first));
    // The next call starts a new process.
    ASSERT_EQ(reader.start(kDeadline).fault, ReaderFault::None);
    EXPECT_NE(reader.pid(), first);
  }
}

#if !defined(_WIN32)
// A launcher runs the reader host with its arguments: the host's path, then the two pipes.
TEST(ReaderProcess, ALauncherRunsTheReaderHost) {
  ASSERT_EQ(setenv("IDCARD_READER_LAUNCHER", "/usr/bin/env -u NO_SUCH_VARIABLE", 1), 0);
  ReaderProcess reader(options("sdt"));
  const ReaderAnswer a = reader.read(kDeadline);
  unsetenv("IDCARD_READER_LAUNCHER");
  ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
  EXPECT_TRUE(a.result.ok);
}
#endif

TEST(ReaderProcess, AnAnswerWithinTheDeadlineIsTaken) {
  ReaderProcess reader(stub("slow-read"));
  const ReaderAnswer a = reader.read(milliseconds(5000));
  ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
  EXPECT_TRUE(a.result.ok);
  EXPECT_EQ(a.driver, "stub-driver");
  EXPECT_EQ(a.library, "stub-library");
}

}  // namespace

namespace {

bool holds_value(const ReaderAnswer& a, const std::string& value) {
  for (const idcard::Field& f : a.result.card.fields)
    if (f.value == value) return true;
  return false;
}

}  // namespace

// The reader maker's driver and decoder beside the edition (the tests' desk driver, whose card is
// not the simulator's) are what the edition calls, though the simulated reader lies in the build;
// --simulator reads the simulator beside them; with no driver anywhere the simulator is read and
// the answer says so.
TEST(ReaderProcess, ReadsTheDesksDriverAndTheSimulatorOnlyWhenAskedOrNoneIsFound) {
  const std::string driver = testbed::file_name(testbed::kSimulatorLibraries[SIM_LIB_SDTAPI]);
  const std::string decoder = testbed::file_name(testbed::kSimulatorLibraries[SIM_LIB_WLTRS]);
  const std::string desk = testbed::build_path("tests/reader/desk/");
  const std::string simulated = testbed::build_path("simulator/") + driver;
  for (const char* edition : {"qdx", "sdt", "vantrel"}) {
    SCOPED_TRACE(edition);
    const idcard::EditionInfo& e = *idcard::find_edition(edition);
    const std::string folder = testbed::output_folder() + "desk-" + edition + std::string(1, plat::kPathSeparator);
    fs::remove_all(fs::path(folder));
    ASSERT_TRUE(fs::create_directories(fs::path(folder)));
    const std::string library = folder + e.library;
    fs::copy_file(testbed::build_path(std::string(edition) + "/") + e.library, library);
    for (const std::string& name : {driver, decoder}) fs::copy_file(desk + name, folder + name);
    struct Case {
      const char* name;
      bool beside;     // --library: the edition with the desk's driver beside it
      bool simulator;  // --simulator
      const char* holder;
      std::string driver;
      bool notice;
    };
    const Case cases[] = {
        {"the desk's driver", true, false, "DESK HOLDER", folder + driver, false},
        {"--simulator beside it", true, true, nullptr, simulated, false},
        {"no driver anywhere", false, false, nullptr, simulated, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ReaderOptions o = options(edition);
      o.simulator = c.simulator;
      if (c.beside) o.library = library;
      ReaderProcess reader(o);
      const ReaderAnswer a = reader.read(kDeadline);
      ASSERT_EQ(a.fault, ReaderFault::None) << a.message;
      ASSERT_TRUE(a.result.ok) << a.result.error.line();
      EXPECT_TRUE(c.holder ? holds_value(a, c.holder) && !holds_value(a, kIdNumber) : holds_value(a, kIdNumber));
      EXPECT_EQ(fs::weakly_canonical(fs::path(a.driver)), fs::weakly_canonical(fs::path(c.driver))) << a.driver;
      EXPECT_EQ(a.notice.empty(), !c.notice) << a.notice;
      if (c.notice) {
        EXPECT_NE(a.notice.find("simulated reader"), std::string::npos) << a.notice;
        EXPECT_NE(a.notice.find(driver), std::string::npos) << a.notice;
      }
    }
  }
}
