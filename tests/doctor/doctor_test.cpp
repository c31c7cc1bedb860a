// idcard doctor on deployments built in scratch folders from the build's editions and simulated
// reader: a healthy one per edition and broken ones, each finding and the exit status checked;
// then the program itself for its exit statuses.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>
#include <string_view>

#if !defined(_WIN32)
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "include/ridel_version.h"
#include "tests/support/testbed_gtest.h"
#include "tools/doctor/doctor.h"
#include "tools/image/image.h"
#include "tools/editions/edition.h"
#include "tools/editions/library.h"
#include "tools/reader/messages.h"

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
const std::string kRealDriver = idcard::file_name("sdtapi.real.dll");
const std::string kKeepFile = "ridel-recording.keep-card-data";
// The SDT edition's file under its versioned name, as a release holds it.
#define VERSIONED_SDT "libridel-sdt.so." RIDEL_VERSION_STRING

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
    // The live checks run in the build's reader process.
    options.reader_host = testbed::build_folder() + "tools" + separator() + idcard::reader::kHostProgram;
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
  // The recording driver in place of the driver and decoder; the simulator behind it as the
  // real libraries when `real`.
  void recorder(bool real) const {
    for (const char* name : {"sdtapi.dll", "stdapi.dll", "WltRS.dll"}) {
      const std::string file = idcard::file_name(name);
      copy(library_in("", "recorder", file), file);
      if (real) {
        std::string windows_real = name;
        windows_real.insert(windows_real.size() - 4, ".real");
        copy(library_in("", "simulator", file), idcard::file_name(windows_real.c_str()));
      }
    }
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

// Cuts a file to its first `size` bytes (a copy that broke off).
void truncate_to(const std::string& path, std::size_t size) {
  testbed::Bytes b = testbed::read_file(path);
  ASSERT_GT(b.size(), size);
  b.resize(size);
  ASSERT_TRUE(testbed::write_file(path, b));
}

// Rewrites the machine field of a PE or ELF file.
void set_machine(const std::string& path, unsigned machine) {
  testbed::Bytes b = testbed::read_file(path);
  ASSERT_GT(b.size(), 0x40u);
  std::size_t at = 18;  // ELF
  if (b[0] == 'M' && b[1] == 'Z') at = (b[0x3C] | b[0x3D] << 8 | b[0x3E] << 16) + 4u;
  ASSERT_LT(at + 1, b.size());
  b[at] = static_cast<unsigned char>(machine);
  b[at + 1] = static_cast<unsigned char>(machine >> 8);
  ASSERT_TRUE(testbed::write_file(path, b));
}

// Spoils a library where the file checks do not look but the system's loader does: a PE file
// whose image is said to be smaller than its own headers, an ELF file of an unknown ELF version.
void spoil_for_the_loader(const std::string& path) {
  testbed::Bytes b = testbed::read_file(path);
  ASSERT_GT(b.size(), 0x40u);
  if (b[0] == 'M' && b[1] == 'Z') {
    const std::size_t size_of_image = (b[0x3C] | b[0x3D] << 8 | b[0x3E] << 16) + 24u + 56u;
    ASSERT_LT(size_of_image + 3, b.size());
    const unsigned char tiny[] = {0x10, 0, 0, 0};
    std::copy(std::begin(tiny), std::end(tiny), b.begin() + static_cast<std::ptrdiff_t>(size_of_image));
  } else {
    b[6] = 0x7F;  // the version of the ELF identification
  }
  ASSERT_TRUE(testbed::write_file(path, b));
}

// The smallest file of the other system that reads as a library: on Linux a 32-bit x86 PE DLL's
// headers, on Windows a 64-bit x86-64 ELF shared object's header.
testbed::Bytes other_systems_library() {
#if defined(_WIN32)
  testbed::Bytes b(64, 0);
  const unsigned char start[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
  std::copy(std::begin(start), std::end(start), b.begin());
  b[16] = 3;   // a shared object
  b[18] = 62;  // x86-64
  b[20] = 1;
#else
  testbed::Bytes b(0x40 + 4 + 20 + 0xE0, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x40;
  b[0x40] = 'P';
  b[0x41] = 'E';
  b[0x44] = 0x4C;  // i386
  b[0x45] = 0x01;
  b[0x54] = 0xE0;  // the optional header's size
  b[0x56] = 0x02;  // a DLL (0x2102)
  b[0x57] = 0x21;
  b[0x58] = 0x0B;  // PE32
  b[0x59] = 0x01;
#endif
  return b;
}

// What a case expects of one finding. Findings that fail and are not listed fail the case. In
// `says` and `fix`, {folder} stands for the case's folder.
struct Words {
  Words(const char* t = nullptr) : text(t ? t : ""), given(t != nullptr) {}
  Words(std::string t) : text(std::move(t)), given(true) {}
  std::string text;
  bool given;
};

struct Expect {
  const char* check;
  std::string subject;  // empty: any
  Status status;
  Words says;  // a part of its text, or nullptr
  Words fix = {};  // a part of its fix, or nullptr
};

struct Case {
  const char* name;
  std::function<void(Scratch&)> deploy;  // builds the folder and sets the options
  std::vector<Expect> expected;
  bool holds;  // exit 0
  // Parts that no finding's text nor fix may hold: words of the other system, a path that the
  // deployment lacks.
  std::vector<std::string> never_says = {};
};

std::string with_folder(std::string text, const Scratch& s) {
  for (std::size_t at = text.find("{folder}"); at != std::string::npos; at = text.find("{folder}"))
    text.replace(at, 8, s.folder);
  return text;
}

#if !defined(_WIN32)
bool running_as_root() { return geteuid() == 0; }

// The rights of a user the application might run as: root reads whatever the mode says, so a
// root test run checks for nobody. The folder is left open to everyone, so that only the file is
// in that user's way.
void check_rights_as_an_ordinary_user(Scratch& s) {
  if (!running_as_root()) return;
  s.options.as_user = "nobody";
  fs::permissions(s.folder, fs::perms::all, fs::perm_options::replace);
}
#endif

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
                             {"card", "", Status::Ok, nullptr},
                             {"decoder", "", Status::Ok, "turns a probe photo into a bitmap"}};

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
      // A driver that crashes or hangs ends the reader process that runs the live checks, never
      // the doctor: a finding naming the call, the library and the fix.
      {"driver_crashes_when_called",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         s.options.card = profile(s, R"({"faults": {"crash": {"OpenPort": true}}})");
       },
       {{"live", "", Status::Fail, "the driver {folder}" + kDriver + " crashed in OpenPort(1001)",
         "replace " + kDriver}},
       false},
      {"driver_hangs_when_called",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         s.options.card = profile(s, R"({"faults": {"hang": {"GetSAMStatus": 0}}})");
         s.options.reader_timeout = 2;
       },
       {{"live", "", Status::Fail,
         "the driver {folder}" + kDriver + " did not answer within 2 s in GetSAMStatus(1001)",
         "plugged in"}},
       false,
       {"crashed"}},
      {"decoder_crashes_on_the_probe_photo",
       [](Scratch& s) {
         healthy(s, Edition::Vantrel);
         s.options.card = profile(s, R"({"faults": {"crash": {"GetBmp": true}}})");
       },
       {{"live", "", Status::Fail, "the photo decoder {folder}" + kDecoder + " crashed in GetBmp(",
         "replace " + kDecoder}},
       false},
      {"driver_crashes_when_loaded",
       [](Scratch& s) {
         s.edition(Edition::Qdx);
         s.simulator("", {kSerial, kDecoder});
         s.copy(testbed::build_folder() + "tests" + separator() + "reader" + separator() +
                    "desk-crashing" + separator() + kDriver,
                kDriver);
       },
       {{"live", "", Status::Fail, "the driver {folder}" + kDriver + " crashed when loaded",
         "replace " + kDriver}},
       false},
      {"no_card_is_a_note",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         s.options.card = profile(s, R"({"card_on_reader": false})");
       },
       {{"card", "", Status::Note, "no card"}}, true},
      // A copy that broke off: never loaded (a loaded one faults when touched).
      {"truncated_driver_700_bytes",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         truncate_to(s.path(kDriver), 700);
       },
       {{"file", kDriver, Status::Fail, "is damaged: it is cut short (700 bytes",
         "copy the reader maker's"},
        {"live", "", Status::Skipped, "is not loaded: it is damaged"}},
       false},
      {"truncated_driver_half",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         truncate_to(s.path(kDriver), testbed::read_file(s.path(kDriver)).size() / 2);
       },
       {{"file", kDriver, Status::Fail, "is damaged: it is cut short", "copy the reader maker's"},
        {"live", "", Status::Skipped, "is not loaded: it is damaged"}},
       false},
      {"truncated_decoder_is_not_tried",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         truncate_to(s.path(kDecoder), testbed::read_file(s.path(kDecoder)).size() - 100);
       },
       {{"file", kDecoder, Status::Fail, "is damaged: it is cut short", "copy the reader maker's"},
        {"decoder", "", Status::Skipped, "was not tried: it is damaged"},
        {"ports", "", Status::Ok, nullptr}},
       false},
      {"failing_decoder",
       [](Scratch& s) {
         healthy(s, Edition::Vantrel);
         s.options.card = profile(s, R"({"faults": {"decoder_result": -3}})");
       },
       {{"decoder", "", Status::Fail,
         ("the photo decoder " + kDecoder + " failed on a probe photo (result -3): the photo of "
          "every read fails"),
         "install the reader maker's"},
        {"ports", "", Status::Ok, nullptr}},
       false},
      {"decoder_that_writes_no_bitmap",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         s.options.card = profile(s, R"({"faults": {"status": {"GetBmp": 1}}})");
       },
       {{"decoder", "", Status::Fail, "reported success on a probe photo but wrote no bitmap",
         "install the reader maker's"}},
       false},
      {"no_reader_answers",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         s.options.card = profile(s, R"({"faults": {"status": {"OpenPort": 1}}})");
       },
       {{"ports", "", Status::Fail, "no reader answers", "connect the reader"}},
       false,
#if defined(_WIN32)
       {"serial port number"}},
#else
       {"COM"}},
#endif
      // A reader maker's driver may name a file like the recording driver's real library: only
      // the recording driver's own export tells it.
      {"driver_naming_a_real_library_is_no_recorder",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         testbed::Bytes b = testbed::read_file(s.path(kDriver));
         const std::string real = kRealDriver + std::string(1, '\0');
         b.insert(b.end(), real.begin(), real.end());
         ASSERT_TRUE(testbed::write_file(s.path(kDriver), b));
       },
       with_live({{"simulator", kDriver, Status::Note, "is the simulated reader"}}),
       true,
       {"recording driver"}},
      // The simulated reader in the driver's place: said, never taken for a reader maker's driver.
      {"simulator_is_no_desk_driver", [](Scratch& s) { healthy(s, Edition::Sdt); },
       with_live({{"simulator", kDriver, Status::Note, "is the simulated reader, not a reader maker's driver",
                   "reader maker's driver"}}),
       true},
      {"recorder_with_synthetic_data",
       [](Scratch& s) {
         s.edition(Edition::Qdx);
         s.recorder(true);
       },
       with_live({{"recorder", "ridel-recording.jsonl", Status::Note,
                   "{folder} are the recording driver: they pass each call on to " + kRealDriver +
                       ", " + idcard::file_name("WltRS.real.dll") +
                       " and write it to {folder}ridel-recording.jsonl; the card's data is replaced "
                       "by synthetic data there",
                   "put the reader maker's libraries back"}}),
       true},
      {"recorder_keeping_card_data",
       [](Scratch& s) {
         s.edition(Edition::Sdt);
         s.recorder(true);
         std::ofstream(s.path(kKeepFile)).flush();
       },
       {{"recorder", "ridel-recording.jsonl", Status::Note, "are the recording driver", nullptr},
        {"recorder", kKeepFile, Status::Fail,
         "the recording driver keeps the card's own data: the name, ID number, address and photo "
         "of every card read here go into {folder}ridel-recording.jsonl, because "
         "{folder}ridel-recording.keep-card-data lies beside it",
#if defined(_WIN32)
         "delete \"{folder}ridel-recording.keep-card-data\" unless every card holder agreed"},
#else
         "delete {folder}ridel-recording.keep-card-data unless every card holder agreed"},
#endif
        {"ports", "", Status::Ok, nullptr}},
       false},
      {"recorder_without_real_libraries",
       [](Scratch& s) {
         s.edition(Edition::Qdx);
         s.recorder(false);
       },
       {{"recorder", kDriver, Status::Fail,
         ("the real library " + kRealDriver + " is missing beside the recording driver " + kDriver +
          " in {folder}: the recording driver answers every call with 0"),
         ("rename the reader maker's " + kDriver + " to " + kRealDriver)},
        {"recorder", kDecoder, Status::Fail, "is missing beside the recording driver", nullptr},
        {"live", "", Status::Skipped, "has no real library"}},
       false,
       {"connect the reader"}},
      {"recorder_with_a_truncated_real_driver",
       [](Scratch& s) {
         s.edition(Edition::Qdx);
         s.recorder(true);
         truncate_to(s.path(kRealDriver), 700);
       },
       {{"recorder", kRealDriver, Status::Fail,
         "the real library {folder}" + kRealDriver + " behind the recording driver " + kDriver +
             " is damaged",
         "copy the reader maker's " + kDriver},
        {"live", "", Status::Skipped, "is not loaded: the real library behind the recording driver"}},
       false},
      // A driver of another processor beside an edition that agrees with this program and the
      // rest: the driver is the odd one. An edition of another processor beside drivers that
      // agree with this program: the edition is.
      {"edition_of_another_processor",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         const std::string edition = s.path(idcard::edition_info(Edition::Qdx).deployed_as);
#if defined(_WIN32)
         set_machine(edition, idcard::image::kMachineArm64);
#else
         set_machine(edition, idcard::image::kElfAarch64);
#endif
       },
       {{"architecture", idcard::edition_info(Edition::Qdx).deployed_as, Status::Fail,
         "the edition is the odd one", "edition built for"},
        {"architecture", kDriver, Status::Ok, nullptr},
        {"architecture", kDecoder, Status::Ok, nullptr}},
       false,
       {"deploy the reader maker's"}},
      // Damage that only the loader sees is named as damage, not as libraries it lacks.
      {"driver_refused_by_the_loader",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         spoil_for_the_loader(s.path(kDriver));
       },
#if defined(_WIN32)
       {{"live", "", Status::Fail, kDriver + " is damaged: the system refuses to load it (system error 193)",
#else
       {{"live", "", Status::Fail, kDriver + " is damaged: the system refuses to load it (",
#endif
         "copy the reader maker's " + kDriver + " again"}},
       false,
       {"needs libraries"}},
      // A file of the other system under the driver's name.
      {"driver_of_the_other_system",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         ASSERT_TRUE(testbed::write_file(s.path(kDriver), other_systems_library()));
       },
#if defined(_WIN32)
       {{"file", kDriver, Status::Fail,
         "is not a Windows DLL: it is a Linux library (for x86-64): Windows cannot load it",
         "copy the reader maker's"},
#else
       {{"file", kDriver, Status::Fail,
         "is a Windows DLL (for x86, 32-bit), not a Linux library: Linux cannot load it",
         "copy the reader maker's"},
#endif
        {"live", "", Status::Skipped, "for the other system"}},
       false},
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
      // Rights as the application's user meets them (root reads everything: checked for nobody).
      {"unreadable_driver",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         fs::permissions(s.path(kDriver), fs::perms::none);
         check_rights_as_an_ordinary_user(s);
       },
       {{"access", "", Status::Fail,
         ("cannot read {folder}" + kDriver + " (mode 000, owner "),
         ("sudo chmod a+r {folder}" + kDriver)},
        {"live", "", Status::Skipped, nullptr}},
       false},
      {"unreadable_edition",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         fs::permissions(s.path("libridel.so"), fs::perms::none);
         check_rights_as_an_ordinary_user(s);
       },
       {{"access", "", Status::Fail, "cannot read {folder}libridel.so (mode 000, owner ",
         "sudo chmod a+r {folder}libridel.so"}},
       false,
       {"damaged"}},
      {"folder_of_mode_700",
       [](Scratch& s) {
         healthy(s, Edition::Vantrel);
         fs::permissions(s.folder, fs::perms::owner_all, fs::perm_options::replace);
         if (!running_as_root()) GTEST_SKIP() << "only another user meets a mode of 700";
         s.options.as_user = "nobody";
       },
       {{"access", "", Status::Fail,
         "nobody cannot open the folder {folder} (mode 700, owner root): the application cannot "
         "load its files from it",
         "sudo chmod a+rx {folder}"}},
       false,
       {"no libvantrel.so"}},
      {"folder_root_may_write_as_nobody",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         fs::permissions(s.folder, fs::perms::owner_all | fs::perms::group_read |
                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec,
                         fs::perm_options::replace);
         if (!running_as_root()) GTEST_SKIP() << "checked for nobody as root";
         s.options.as_user = "nobody";
       },
       {{"access", "", Status::Fail,
         "nobody cannot create files in {folder} (mode 755, owner root): the qdx edition's result "
         "files",
         "sudo chown nobody {folder}"}},
       false},
      {"dangling_driver_link",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         fs::remove(s.path(kDriver));
         fs::create_symlink("/nonexistent/" + kDriver, s.path(kDriver));
       },
       {{"file", kDriver, Status::Fail,
         ("{folder}" + kDriver + " is a link to /nonexistent/" + kDriver + ", which does not exist"),
         "in place of the link, or put /nonexistent/"},
        {"live", "", Status::Skipped, "a link that leads nowhere"}},
       false,
       {"is missing"}},
      {"dangling_edition_link",
       [](Scratch& s) {
         healthy(s, Edition::Sdt);
         fs::remove(s.path("libridel.so"));
         fs::create_symlink("libridel-sdt.so.1", s.path("libridel.so"));
       },
       {{"file", "libridel.so", Status::Fail,
         "{folder}libridel.so is a link to libridel-sdt.so.1, which does not exist",
         "put libridel-sdt.so.1 back"},
        {"live", "", Status::Skipped, nullptr}},
       false,
       {"no libridel.so"}},
      {"driver_link_named",
       [](Scratch& s) {
         healthy(s, Edition::Qdx);
         fs::rename(s.path(kDriver), s.path("maker-" + kDriver));
         fs::create_symlink("maker-" + kDriver, s.path(kDriver));
       },
       with_live({{"file", kDriver, Status::Ok, ("(a link to maker-" + kDriver + ")")}}),
       true},
      // The edition as the release's folder holds it, under its versioned name only.
      {"versioned_edition_only",
       [](Scratch& s) {
         s.copy(Scratch::library_in("", "sdt", VERSIONED_SDT), VERSIONED_SDT);
         s.simulator();
       },
       {{"edition", "", Status::Fail,
         "no libridel.so in {folder}, but " VERSIONED_SDT " there is the sdt edition",
         "ln -s " VERSIONED_SDT " {folder}libridel.so"},
        {"file", kDriver, Status::Ok, nullptr}},
       false,
       {"dist/"}},
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
  if (HasFatalFailure() || IsSkipped()) return;
  const Report report = idcard::doctor::examine(s.options);
  for (const Expect& e : c.expected) {
    const auto found = std::find_if(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
      return f.check == e.check && (e.subject.empty() || f.subject == e.subject);
    });
    ASSERT_NE(found, report.findings.end()) << e.check << " " << e.subject;
    EXPECT_EQ(idcard::doctor::status_name(found->status), idcard::doctor::status_name(e.status))
        << found->text;
    if (e.says.given) {
      EXPECT_NE(found->text.find(with_folder(e.says.text, s)), std::string::npos) << found->text;
    }
    if (e.fix.given) {
      EXPECT_NE(found->fix.find(with_folder(e.fix.text, s)), std::string::npos) << found->fix;
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
  for (const std::string& words : c.never_says) {
    for (const Finding& f : report.findings) {
      EXPECT_EQ(f.text.find(words), std::string::npos) << f.text;
      EXPECT_EQ(f.fix.find(words), std::string::npos) << f.fix;
    }
  }
  EXPECT_EQ(report.ok(), c.holds);
}

INSTANTIATE_TEST_SUITE_P(Deployments, Doctor, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The report says on its first line whether the folder's driver is the simulated reader; the
// recording driver (whose real libraries are the simulator's) is not.
TEST(DoctorSimulator, TheReportSaysWhenTheDriverIsTheSimulatedReader) {
  Scratch simulated("simulated_report");
  healthy(simulated, Edition::Sdt);
  simulated.options.live = false;
  EXPECT_TRUE(idcard::doctor::examine(simulated.options).simulated);
  Scratch recorded("recorded_report");
  recorded.edition(Edition::Sdt);
  recorded.recorder(true);
  recorded.options.live = false;
  const Report report = idcard::doctor::examine(recorded.options);
  EXPECT_FALSE(report.simulated);
  EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(),
                          [](const Finding& f) { return f.check == "recorder"; }));
}

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

// A finding of the check (and subject, when given), or nullptr.
const Finding* finding(const Report& r, const std::string& check, const std::string& subject = "") {
  for (const Finding& f : r.findings) {
    if (f.check == check && (subject.empty() || f.subject == subject)) return &f;
  }
  return nullptr;
}

// An environment variable set for the scope of a test.
class Variable {
 public:
  Variable(const char* name, const char* value) : name_(name) {
    testbed::set_variable(name, value);
  }
  ~Variable() { testbed::set_variable(name_, ""); }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

 private:
  const char* name_;
};

TEST(DoctorRecorder, TheVariableThatKeepsCardDataFails) {
  Scratch s("recorder_keeping_by_variable");
  s.edition(Edition::Vantrel);
  s.recorder(true);
  Report report;
  {
    Variable keep("RIDEL_RECORD_CARD_DATA", "1");
    report = idcard::doctor::examine(s.options);
  }
  const Finding* keep = finding(report, "recorder", "RIDEL_RECORD_CARD_DATA");
  ASSERT_NE(keep, nullptr);
  EXPECT_EQ(keep->status, Status::Fail);
  EXPECT_NE(keep->text.find("keeps the card's own data"), std::string::npos) << keep->text;
  EXPECT_NE(keep->text.find("because RIDEL_RECORD_CARD_DATA=1 is set"), std::string::npos) << keep->text;
  EXPECT_NE(keep->fix.find("remove RIDEL_RECORD_CARD_DATA=1 from the application's environment"),
            std::string::npos)
      << keep->fix;
  EXPECT_FALSE(report.ok());
  // Any other value keeps nothing.
  Variable other("RIDEL_RECORD_CARD_DATA", "0");
  const Report without = idcard::doctor::examine(s.options);
  EXPECT_EQ(finding(without, "recorder", "RIDEL_RECORD_CARD_DATA"), nullptr);
  EXPECT_TRUE(without.ok());
}

#if !defined(_WIN32)
TEST(DoctorUser, RootIsToldThatTheApplicationsUserMayLackItsRights) {
  if (!running_as_root()) GTEST_SKIP() << "for a doctor run as root";
  Scratch s("as_root");
  healthy(s, Edition::Sdt);
  const Report report = idcard::doctor::examine(s.options);
  const Finding* note = finding(report, "user");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->status, Status::Note);
  EXPECT_NE(note->text.find("idcard doctor runs as root, who may read and write every file"),
            std::string::npos)
      << note->text;
  EXPECT_NE(note->fix.find("--as-user"), std::string::npos) << note->fix;
  EXPECT_TRUE(report.ok());
  // Checked for another user, the note gives way to that user's rights.
  s.options.as_user = "root";
  EXPECT_EQ(finding(idcard::doctor::examine(s.options), "user"), nullptr);
}

TEST(DoctorUser, AnUnknownUserFails) {
  Scratch s("unknown_user");
  healthy(s, Edition::Qdx);
  s.options.as_user = "no-such-user-of-the-desk";
  const Report report = idcard::doctor::examine(s.options);
  const Finding* user = finding(report, "user", "no-such-user-of-the-desk");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->status, Status::Fail);
  EXPECT_NE(user->text.find("there is no user no-such-user-of-the-desk on this system"),
            std::string::npos)
      << user->text;
  EXPECT_FALSE(report.ok());
}
#endif

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
      {{"doctor", "--folder", good, "--as-user"}, 2},
#if defined(_WIN32)
      {{"doctor", "--folder", good, "--as-user", "Administrator"}, 2},  // for Linux only
#else
      {{"doctor", "--folder", good, "--as-user", "no-such-user-of-the-desk"}, 1},
#endif
  };
  for (const Run& r : runs) {
    std::string line;
    for (const std::string& a : r.args) line += a + " ";
    EXPECT_EQ(exit_status(testbed::run_program(program, r.args)), r.status) << line;
  }
}

}  // namespace
