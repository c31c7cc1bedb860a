// idcard doctor on deployments built in scratch folders from the build's editions and simulated
// reader: a healthy one per edition and broken ones, each finding and the exit status checked;
// then the program itself for its exit statuses.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>

#if !defined(_WIN32)
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/support/testbed_gtest.h"
#include "tools/doctor/doctor.h"
#include "tools/doctor/image.h"
#include "tools/editions/edition.h"
#include "tools/editions/library.h"

namespace {

namespace fs = std::filesystem;
using idcard::Edition;
using idcard::doctor::Finding;
using idcard::doctor::Options;
using idcard::doctor::Report;
using idcard::doctor::Status;

const std::string kDriver = idcard::file_name("sdtapi.dll");
const std::string kSerial = idcard::file_name("stdapi.dll");
const std::string kDecoder = idcard::file_name("WltRS.dll");

std::string separator() { return std::string(1, plat::kPathSeparator); }

// A deployment in a scratch folder of its own, removed first.
struct Scratch {
  std::string folder;  // ending in a separator
  Options options;

  explicit Scratch(const std::string& name) {
    folder = testbed::output_folder() + "deployments" + separator() + name + separator();
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    options.folder = folder;
  }
  // The edition as an application deploys it, from `build` (this build's when empty).
  void edition(Edition e, const std::string& build = "") const {
    const idcard::EditionInfo& info = idcard::edition_info(e);
    copy(library_in(build, info.name, info.library), info.deployed_as);
  }
  void simulator(const std::string& build = "", const std::vector<std::string>& files = {
                                                    kDriver, kSerial, kDecoder}) const {
    for (const std::string& f : files) copy(library_in(build, "simulator", f), f);
  }
  void copy(const std::string& from, const std::string& name) const {
    fs::copy_file(from, folder + name, fs::copy_options::overwrite_existing);
  }
  std::string path(const std::string& name) const { return folder + name; }

  static std::string library_in(const std::string& build, const char* sub, const std::string& file) {
    const std::string root = build.empty() ? testbed::build_folder() : build;
    return root + sub + separator() + file;
  }
};

// Replaces every occurrence of `from` in a file by `to`, of the same length.
void patch(const std::string& path, const std::string& from, const std::string& to) {
  testbed::Bytes b = testbed::read_file(path);
  std::size_t count = 0;
  for (auto at = std::search(b.begin(), b.end(), from.begin(), from.end()); at != b.end();
       at = std::search(at + 1, b.end(), from.begin(), from.end())) {
    std::copy(to.begin(), to.end(), at);
    ++count;
  }
  ASSERT_GT(count, 0u) << from << " not in " << path;
  ASSERT_TRUE(testbed::write_file(path, b));
}

// The 32-bit Windows build beside this 64-bit one, or empty.
std::string x86_build() {
#if defined(_WIN32)
  if (sizeof(void*) == 8) {
    const std::string build = testbed::build_folder() + ".." + separator() + "windows-x86" + separator();
    if (fs::exists(build + "sdt" + separator() + "ridel.dll")) return build;
  }
#endif
  return "";
}

// What a case expects of one finding. Findings that fail and are not listed fail the case.
struct Expect {
  const char* check;
  std::string subject;  // empty: any
  Status status;
  const char* says;  // a part of its text, or nullptr
};

struct Case {
  const char* name;
  std::function<void(Scratch&)> deploy;  // builds the folder and sets the options
  std::vector<Expect> expected;
  bool holds;  // exit 0
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

void healthy(Scratch& s, Edition e) {
  s.edition(e);
  s.simulator();
}

std::string profile(Scratch& s, const std::string& json) {
  const std::string path = s.path("profile.json");
  std::ofstream(path) << json;
  return path;
}

// Writes are refused in the folder: by its mode for an ordinary user; as root (whom the mode does
// not stop) by taking an ordinary user's file-system identity for the check. Under Wine the
// folder's mode stops no one (the suites run as root): there the doctor checks Z:\proc\self\, a
// folder of the host's proc file system (Wine's drive Z: is the host's root), where nobody can
// create a file.
class ReadOnly {
 public:
  explicit ReadOnly(Scratch& s) {
#if defined(_WIN32)
    s.options.folder = "Z:\\proc\\self\\";
#else
    fs::permissions(s.folder, fs::perms::owner_all, fs::perm_options::remove);
    fs::permissions(s.folder, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::add);
    if (geteuid() == 0) setfsuid(65534);
#endif
  }
  ~ReadOnly() {
#if !defined(_WIN32)
    if (geteuid() == 0) setfsuid(0);
#endif
  }
};

const Expect kLiveHolds[] = {{"ports", "", Status::Ok, "USB port 1001"},
                             {"sam", "", Status::Ok, nullptr},
                             {"card", "", Status::Ok, nullptr}};

std::vector<Expect> with_live(std::vector<Expect> e) {
  e.insert(e.end(), std::begin(kLiveHolds), std::end(kLiveHolds));
  return e;
}

std::vector<Case> cases() {
  std::vector<Case> c = {
      {"healthy_qdx", [](Scratch& s) { healthy(s, Edition::Qdx); },
       with_live({{"edition", "", Status::Ok, "qdx edition"},
                  {"file", kDriver, Status::Ok, nullptr},
                  {"file", kDecoder, Status::Ok, nullptr},
                  {"entry_points", kDriver, Status::Ok, nullptr},
                  {"folder", "", Status::Ok, nullptr},
                  {"code_page", "", Status::Ok, "936"}}),
       true},
      {"healthy_sdt", [](Scratch& s) { healthy(s, Edition::Sdt); },
       with_live({{"edition", "", Status::Ok, "sdt edition"}}), true},
      {"healthy_vantrel", [](Scratch& s) { healthy(s, Edition::Vantrel); },
       with_live({{"edition", "", Status::Ok, "vantrel edition"},
                  {"file", kSerial, Status::Ok, nullptr}}),
       true},
      {"static_reads_files_only",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         s.options.live = false;
       },
       {{"live", "", Status::Skipped, "--static"}}, true},
      {"empty_folder", [](Scratch&) {},
       {{"edition", "", Status::Fail, "finds no edition"}, {"live", "", Status::Skipped, nullptr}},
       false},
      {"no_decoder",
       [](Scratch& s) {
         s.edition(Edition::Qdx);
         s.simulator("", {kDriver});
       },
       {{"file", kDecoder, Status::Fail, "missing"}}, false},
      {"no_decoder_for_the_linked_edition",
       [](Scratch& s) {
         s.edition(Edition::Sdt);
         s.simulator("", {kDriver});
       },
       {{"file", kDecoder, Status::Fail, "cannot load"}}, false},
      {"no_serial_driver_is_a_note",
       [](Scratch& s) {
         s.edition(Edition::Vantrel);
         s.simulator("", {kDriver, kDecoder});
       },
       with_live({{"file", kSerial, Status::Note, "serial"}}), true},
      {"driver_lacks_an_entry_point",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         patch(s.path(kDriver), std::string("QDX_ANT", 8), std::string("QDX_ANX", 8));
       },
       {{"entry_points", kDriver, Status::Fail, "lacks QDX_ANT:"}}, false},
      {"driver_lacks_an_import_of_the_linked_edition",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         patch(s.path(kDriver), std::string("SDT_ReadNewAppMsg", 18),
               std::string("SDT_ReadNewAppMsX", 18));
       },
       {{"entry_points", kDriver, Status::Fail, "cannot load"}}, false},
      {"wrong_edition",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         s.options.edition = "vantrel";
       },
       {{"edition", "", Status::Fail, "is the qdx edition"}}, false},
      {"garbled_edition_file",
       [](Scratch& s) {
         s.simulator();
         std::ofstream(s.path(idcard::edition_info(Edition::Sdt).deployed_as)) << "MZ garbage";
       },
       {{"edition", "", Status::Fail, "no library"}, {"live", "", Status::Skipped, nullptr}},
       false},
      {"reader_on_port_1003",
       [](Scratch& s) {
         healthy(s, Edition::Vantrel);
         s.options.card = profile(s, R"({"port": 1003})");
       },
       {{"ports", "", Status::Ok, "USB port 1003"}, {"card", "", Status::Ok, nullptr}}, true},
      {"reader_on_port_1003_application_opens_1001",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         s.options.card = profile(s, R"({"port": 1003})");
         s.options.port = 1001;
       },
       {{"ports", "", Status::Fail, "answers on USB port 1003, not on USB port 1001"}}, false},
      {"sam_not_answering",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         s.options.card = profile(s, R"({"faults": {"sam_not_answering": true}})");
       },
       {{"sam", "", Status::Fail, "0x60"}}, false},
      {"no_card_is_a_note",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         s.options.card = profile(s, R"({"card_on_reader": false})");
       },
       {{"card", "", Status::Note, "no card"}}, true},
#if defined(_WIN32)
      {"vantrel_not_renamed",
       [](Scratch& s) {
         s.copy(Scratch::library_in("", "vantrel", "vantrel.dll"), "vantrel.dll");
         s.simulator();
       },
       {{"edition", "vantrel.dll", Status::Fail, "load it as ridel.dll"}}, false},
#else
      {"driver_is_a_pipe",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         fs::remove(s.path(kDriver));
         ASSERT_EQ(mkfifo(s.path(kDriver).c_str(), 0600), 0);
       },
       {{"file", kDriver, Status::Fail, "no library"}, {"live", "", Status::Skipped, nullptr}},
       false},
      // Another processor's driver: the machine field of a copy of the simulator's rewritten.
      {"foreign_driver",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         testbed::Bytes b = testbed::read_file(s.path(kDriver));
         ASSERT_GT(b.size(), 20u);
         const unsigned other = idcard::image::parse(b).machine == idcard::image::kElfAarch64
                                    ? idcard::image::kElfX86_64
                                    : idcard::image::kElfAarch64;
         b[18] = static_cast<unsigned char>(other);
         b[19] = static_cast<unsigned char>(other >> 8);
         ASSERT_TRUE(testbed::write_file(s.path(kDriver), b));
       },
       {{"architecture", kDriver, Status::Fail, "ARM64"}, {"live", "", Status::Skipped, nullptr}},
       false},
#endif
  };
  if (!x86_build().empty()) {
    // A 32-bit deployment checked by this 64-bit program: read, not loaded.
    c.push_back({"x86_deployment",
                 [](Scratch& s) {
                   s.edition(Edition::Sdt, x86_build());
                   s.simulator(x86_build());
                 },
                 {{"architecture", "ridel.dll", Status::Note, "x86, 32-bit"},
                  {"architecture", kDriver, Status::Ok, nullptr},
                  {"live", "", Status::Skipped, "cannot load"}},
                 true});
    c.push_back({"x64_driver_beside_the_x86_edition",
                 [](Scratch& s) {
                   s.edition(Edition::Qdx, x86_build());
                   s.simulator(x86_build(), {kSerial, kDecoder});
                   s.simulator("", {kDriver});
                 },
                 {{"architecture", kDriver, Status::Fail, "load error 193"}}, false});
  }
  return c;
}

class Doctor : public ::testing::TestWithParam<Case> {};

TEST_P(Doctor, FindsWhatIsWrongWithTheDeployment) {
  const Case& c = GetParam();
  Scratch s(c.name);
  c.deploy(s);
  if (HasFatalFailure()) return;
  const Report report = idcard::doctor::examine(s.options);
  for (const Expect& e : c.expected) {
    const auto found = std::find_if(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
      return f.check == e.check && (e.subject.empty() || f.subject == e.subject);
    });
    ASSERT_NE(found, report.findings.end()) << e.check << " " << e.subject;
    EXPECT_EQ(idcard::doctor::status_name(found->status), idcard::doctor::status_name(e.status))
        << found->text;
    if (e.says) {
      EXPECT_NE(found->text.find(e.says), std::string::npos) << found->text;
    }
    if (found->status == Status::Fail) {
      EXPECT_FALSE(found->fix.empty()) << found->text;
    }
  }
  for (const Finding& f : report.findings) {
    if (f.status != Status::Fail) continue;
    const bool listed = std::any_of(c.expected.begin(), c.expected.end(), [&](const Expect& e) {
      return e.status == Status::Fail && f.check == e.check && (e.subject.empty() || f.subject == e.subject);
    });
    EXPECT_TRUE(listed) << "unexpected failure: " << f.check << " " << f.subject << ": " << f.text;
  }
  EXPECT_EQ(report.ok(), c.holds);
}

INSTANTIATE_TEST_SUITE_P(Deployments, Doctor, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DoctorFolder, AFolderThatCannotBeWrittenFails) {
  Scratch s("read_only");
  healthy(s, Edition::Vantrel);
  Report report;
  {
    ReadOnly read_only(s);
    report = idcard::doctor::examine(s.options);
  }
  const auto folder = std::find_if(report.findings.begin(), report.findings.end(),
                                   [](const Finding& f) { return f.check == "folder"; });
  ASSERT_NE(folder, report.findings.end());
  EXPECT_EQ(folder->status, Status::Fail) << folder->text;
  EXPECT_NE(folder->text.find("cannot be written"), std::string::npos) << folder->text;
  EXPECT_FALSE(report.ok());
#if !defined(_WIN32)
  // Only the folder fails: the deployment in it is whole, and the log's message box is named.
  EXPECT_NE(folder->text.find("idcrerror.log"), std::string::npos) << folder->text;
  for (const Finding& f : report.findings) {
    EXPECT_TRUE(f.status != Status::Fail || f.check == "folder") << f.text;
  }
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(s.folder)) files += entry.is_regular_file();
  EXPECT_EQ(files, 4u);  // no probe file left behind
#endif
}

// ---- The program ------------------------------------------------------------------------------

int exit_status(int system_result) {
#if defined(_WIN32)
  return system_result;
#else
  return WIFEXITED(system_result) ? WEXITSTATUS(system_result) : -1;
#endif
}

TEST(DoctorProgram, ExitsZeroWhenEverythingHoldsOneForAFindingTwoForABadCommandLine) {
#if defined(_WIN32)
  const std::string program = testbed::build_path("tools/idcard.exe");
#else
  const std::string program = testbed::build_path("tools/idcard");
#endif
  Scratch good_deployment("program_healthy"), bad_deployment("program_no_decoder");
  healthy(good_deployment, Edition::Sdt);
  bad_deployment.edition(Edition::Sdt);
  bad_deployment.simulator("", {kDriver});
  // Given as a user types them, without a closing separator (on Windows, a backslash before the
  // closing quote would escape it).
  const std::string good = good_deployment.folder.substr(0, good_deployment.folder.size() - 1);
  const std::string bad = bad_deployment.folder.substr(0, bad_deployment.folder.size() - 1);
  struct Run {
    std::vector<std::string> args;
    int status;
  } const runs[] = {
      {{"doctor", "--folder", good}, 0},
      {{"doctor", "--folder", good, "--json", "--edition", "sdt"}, 0},
      {{"doctor", "--folder", bad, "--static"}, 1},
      {{"doctor", "--folder", bad, "--json"}, 1},
      {{"doctor", "--library", "ridel.dll"}, 2},
      {{"doctor", "--folder"}, 2},
      {{"--folder", good}, 2},  // a doctor option without the command
  };
  for (const Run& r : runs) {
    std::string line;
    for (const std::string& a : r.args) line += a + " ";
    EXPECT_EQ(exit_status(testbed::run_program(program, r.args)), r.status) << line;
  }
}

}  // namespace
