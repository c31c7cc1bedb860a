// Audit of the Windows libraries in dist/: architecture, export names and ordinals as each .def
// file fixes them, exactly the imports each edition's code calls (nothing of the thread family,
// nothing Windows XP lacks in the 32-bit builds), header versions, sizes and vantrel's string
// table, the project's version in every Windows binary; and of the Linux libraries, how they are
// bound. Runs natively after `make dist` (make test builds dist/ before it runs the suites).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "include/ridel_version.h"
#include "tests/support/testbed_gtest.h"
#include "tests/support/pe.h"

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The exports a .def file names, with their ordinals (0 where it gives none).
std::vector<testbed::pe::Export> def_exports(const std::string& path, std::string* library) {
  std::vector<testbed::pe::Export> out;
  const testbed::Bytes bytes = testbed::read_file(path);
  std::string text(bytes.begin(), bytes.end());
  bool exports = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (const std::size_t semicolon = line.find(';'); semicolon != std::string::npos)
      line.erase(semicolon);
    // "LIBRARY ridel.dll", then lines such as "OpenComm@4 @1": the name, its 32-bit stdcall
    // argument size, its ordinal.
    static const std::regex library_line(R"re(^\s*LIBRARY\s+"?([^"\s]+)"?)re");
    static const std::regex export_line(R"re(^\s*([A-Za-z_]\w*)(@\d+)?(\s+@(\d+))?\s*$)re");
    std::smatch m;
    if (std::regex_search(line, m, library_line)) {
      *library = m[1];
    } else if (line.find("EXPORTS") != std::string::npos) {
      exports = true;
    } else if (exports && std::regex_match(line, m, export_line)) {
      out.push_back({m[4].matched ? static_cast<unsigned>(std::stoul(m[4])) : 0u, m[1]});
    }
  }
  return out;
}

struct Target {
  const char* folder;
  unsigned machine;
};
constexpr Target kTargets[] = {{"windows-x86", testbed::pe::kMachineI386},
                               {"windows-x64", testbed::pe::kMachineAmd64}};

struct Edition {
  const char* dll;  // within dist/<target>/
  const char* def;  // within the source tree
  bool linked_to_driver;
};
constexpr Edition kEditions[] = {{"qdx/ridel.dll", "qdx/ridel.def", false},
                                 {"sdt/ridel.dll", "sdt/ridel.def", true},
                                 {"vantrel/vantrel.dll", "vantrel/vantrel.def", false}};

// What a DLL may import: the system, and for the SDT edition the driver and decoder.
const std::set<std::string> kSystem = {"kernel32.dll", "user32.dll", "msvcrt.dll"};

std::string dist(const std::string& target, const std::string& file) {
  return std::string(RIDEL_SOURCE_DIR) + "/dist/" + target + "/" + file;
}

// What keeps the audit from checking what was just built: dist/ missing, or a library in it
// other than the same library in the build folder (a dist/ from an earlier build). Empty when
// dist/ holds what was built.
std::string dist_problem() {
  namespace fs = std::filesystem;
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      const std::string shipped = dist(t.folder, e.dll);
      const std::string built = std::string(RIDEL_SOURCE_DIR) + "/build/" + t.folder + "/" + e.dll;
      std::error_code error;
      if (!fs::exists(shipped, error)) return shipped + " is missing";
      if (fs::exists(built, error) && testbed::read_file(built) != testbed::read_file(shipped))
        return shipped + " is not the library last built (" + built + ")";
    }
  }
  return {};
}

// The audit checks dist/ as `make dist` left it. `make test` builds dist/ first and sets
// RIDEL_AUDIT_REQUIRED, so that there a missing or stale dist/ fails; a build by hand that has
// not run `make dist` skips the audit with the reason.
class Audit : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = dist_problem();
    if (problem.empty()) return;
    if (std::getenv("RIDEL_AUDIT_REQUIRED")) FAIL() << problem << ": run make dist";
    GTEST_SKIP() << problem << ": run make dist to audit the libraries";
  }
};

TEST_F(Audit, EditionsExportExactlyWhatTheirDefFilesFix) {
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      SCOPED_TRACE(std::string(t.folder) + "/" + e.dll);
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, e.dll));
      ASSERT_TRUE(image.ok) << "missing or not a PE file: run make dist";
      EXPECT_EQ(image.machine, t.machine);
      std::string library;
      std::vector<testbed::pe::Export> wanted =
          def_exports(std::string(RIDEL_SOURCE_DIR) + "/" + e.def, &library);
      ASSERT_FALSE(wanted.empty());
      EXPECT_EQ(lower(image.export_name), lower(library));
      std::vector<testbed::pe::Export> got = image.exports;
      if (std::all_of(wanted.begin(), wanted.end(), [](auto& x) { return x.ordinal == 0; })) {
        for (auto& x : got) x.ordinal = 0;  // by name only: the linker numbers them
      }
      auto by_name = [](const testbed::pe::Export& a, const testbed::pe::Export& b) {
        return a.name < b.name;
      };
      std::sort(wanted.begin(), wanted.end(), by_name);
      std::sort(got.begin(), got.end(), by_name);
      EXPECT_EQ(got, wanted);
    }
  }
}

TEST_F(Audit, LibrariesImportOnlyTheSystemAndTheirDriver) {
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      SCOPED_TRACE(std::string(t.folder) + "/" + e.dll);
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, e.dll));
      ASSERT_TRUE(image.ok);
      std::set<std::string> driver_libraries;
      for (const auto& [dll, names] : image.imports) {
        const std::string name = lower(dll);
        if (kSystem.count(name)) continue;
        EXPECT_TRUE(e.linked_to_driver && (name == "sdtapi.dll" || name == "wltrs.dll"))
            << "imports " << dll;
        driver_libraries.insert(name);
        for (const std::string& fn : names)
          EXPECT_EQ(fn.find('@'), std::string::npos) << "decorated import " << fn;
      }
      if (e.linked_to_driver) {
        EXPECT_EQ(driver_libraries, (std::set<std::string>{"sdtapi.dll", "wltrs.dll"}));
        std::vector<std::string> driver = image.imports.count("sdtapi.dll")
                                              ? image.imports.at("sdtapi.dll")
                                              : std::vector<std::string>{};
        std::sort(driver.begin(), driver.end());
        EXPECT_EQ(driver, (std::vector<std::string>{
                              "SDT_ClosePort", "SDT_GetSAMID", "SDT_GetSAMStatus",
                              "SDT_OpenPort", "SDT_ReadBaseMsg", "SDT_ReadMngInfo",
                              "SDT_ReadNewAppMsg", "SDT_SelectIDCard", "SDT_StartFindIDCard"}));
      }
    }
  }
}

// ---- Imports: exactly what the code calls --------------------------------------------------------

using ImportList = std::map<std::string, std::set<std::string>>;  // lower-case DLL -> functions

// Every function an edition imports, per DLL, as its code calls them (the same on both
// architectures; the C runtime's functions are those the compiler calls for copies and searches). A new import fails the audit
// until it is added here on purpose. Each of them exists in Windows XP SP3's KERNEL32, USER32 and
// msvcrt (the 32-bit libraries must load there), and none belongs to the thread or lock families.
ImportList allowed_imports(const std::string& dll) {
  // Every edition: the executable's path, walked by characters of the ANSI code page, and the
  // record's text in that code page.
  const std::set<std::string> paths_and_text = {"GetModuleFileNameA", "IsDBCSLeadByte",
                                                "WideCharToMultiByte"};
  // Loading the driver and decoder by name.
  const std::set<std::string> loading = {"LoadLibraryA", "GetProcAddress", "FreeLibrary"};
  // Creating and writing result files through handles: what has the name already is looked at
  // first (a link is not written through), and a file left incomplete is deleted.
  const std::set<std::string> files = {"CreateFileA", "WriteFile",    "CloseHandle",
                                       "DeleteFileA", "SetLastError", "GetLastError",
                                       "GetFileAttributesA"};
  auto join = [](std::initializer_list<std::set<std::string>> parts) {
    std::set<std::string> all;
    for (const auto& part : parts) all.insert(part.begin(), part.end());
    return all;
  };
  if (dll == "qdx/ridel.dll")
    return {{"kernel32.dll", join({paths_and_text, loading, files})},
            {"msvcrt.dll", {"memchr", "memcmp", "strlen"}}};
  if (dll == "sdt/ridel.dll")
    return {{"kernel32.dll", join({paths_and_text, files})},
            {"msvcrt.dll", {"memchr", "memcmp", "strlen"}},
            {"sdtapi.dll",
             {"SDT_ClosePort", "SDT_GetSAMID", "SDT_GetSAMStatus", "SDT_OpenPort",
              "SDT_ReadBaseMsg", "SDT_ReadMngInfo", "SDT_ReadNewAppMsg", "SDT_SelectIDCard",
              "SDT_StartFindIDCard"}},
            {"wltrs.dll", {"GetBmp"}}};
  // vantrel: also its own module and string table, reading files, the log's time and its
  // message box.
  return {{"kernel32.dll",
           join({paths_and_text, loading, files,
                 {"GetModuleHandleA", "GetModuleHandleExA", "ReadFile", "GetFileSizeEx",
                  "SetFilePointerEx", "GetLocalTime"}})},
          {"msvcrt.dll", {"memchr", "strlen"}},
          {"user32.dll", {"LoadStringA", "MessageBoxA"}}};
}

ImportList imports_of(const testbed::pe::Image& image) {
  ImportList out;
  for (const auto& [dll, names] : image.imports) out[lower(dll)].insert(names.begin(), names.end());
  return out;
}

TEST_F(Audit, EditionsImportExactlyWhatTheirCodeCalls) {
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      SCOPED_TRACE(std::string(t.folder) + "/" + e.dll);
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, e.dll));
      ASSERT_TRUE(image.ok);
      EXPECT_EQ(imports_of(image), allowed_imports(e.dll));
    }
  }
}

// Whatever the allowlist says: no export starts a thread, waits or takes a lock, so nothing of
// those families may be imported (the C runtime's start-up code would bring them in).
TEST_F(Audit, EditionsImportNothingOfTheThreadFamilies) {
  static const std::regex thread_family(
      "Thread|CriticalSection|Mutex|Semaphore|Event|Wait|Sleep|Tls|Fls|Interlocked|SRWLock|"
      "ConditionVariable|InitOnce|Affinity|Fiber|_beginthread|_endthread|^_lock$|^_unlock$|"
      "GetTickCount64");
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, e.dll));
      ASSERT_TRUE(image.ok) << t.folder << "/" << e.dll;
      for (const auto& [dll, names] : image.imports)
        for (const std::string& fn : names)
          EXPECT_FALSE(std::regex_search(fn, thread_family))
              << t.folder << "/" << e.dll << " imports " << dll << "!" << fn;
    }
  }
}

// The 32-bit libraries load on Windows XP (5.1) and later, the 64-bit ones on Vista (6.0) and
// later; each is small, and has its own entry point for the load notifications.
TEST_F(Audit, EditionsLoadOnTheOldestWindowsAndStaySmall) {
  struct Limits {
    const char* target;
    std::pair<unsigned, unsigned> newest_version;
    std::size_t largest_file;
  };
  constexpr Limits kLimits[] = {{"windows-x86", {5, 1}, 64 * 1024},
                                {"windows-x64", {6, 0}, 96 * 1024}};
  for (const Limits& l : kLimits) {
    for (const Edition& e : kEditions) {
      SCOPED_TRACE(std::string(l.target) + "/" + e.dll);
      const testbed::pe::Image image = testbed::pe::read(dist(l.target, e.dll));
      ASSERT_TRUE(image.ok);
      EXPECT_LE(image.os_version, l.newest_version);
      EXPECT_LE(image.subsystem_version, l.newest_version);
      EXPECT_LE(image.file_size, l.largest_file);
      EXPECT_NE(image.entry_point, 0u);
    }
  }
}

TEST_F(Audit, EditionsCarryVersionInformation) {
  for (const Target& t : kTargets) {
    for (const Edition& e : kEditions) {
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, e.dll));
      ASSERT_TRUE(image.ok) << t.folder << "/" << e.dll;
      const auto& types = image.resource_types;
      EXPECT_NE(std::find(types.begin(), types.end(), testbed::pe::kResourceVersion), types.end())
          << t.folder << "/" << e.dll;
    }
  }
}

// The fixed part of a version resource (VS_FIXEDFILEINFO): file and product version, each as
// {major, minor, patch, build}; empty when the file has none.
std::vector<unsigned> fixed_version(const testbed::Bytes& file) {
  static const unsigned char kSignature[] = {0xBD, 0x04, 0xEF, 0xFE};  // 0xFEEF04BD
  const auto at =
      std::search(file.begin(), file.end(), std::begin(kSignature), std::end(kSignature));
  const std::size_t offset = static_cast<std::size_t>(at - file.begin());
  if (at == file.end() || file.size() - offset < 24) return {};
  auto dword = [&](std::size_t o) {
    return static_cast<unsigned>(file[o] | file[o + 1] << 8 | file[o + 2] << 16 |
                                 file[o + 3] << 24);
  };
  std::vector<unsigned> out;
  for (std::size_t o = offset + 8; o < offset + 24; o += 4) {
    out.push_back(dword(o) >> 16);
    out.push_back(dword(o) & 0xFFFF);
  }
  return out;
}

// Every Windows binary shipped carries the project's one version as file and product version.
TEST_F(Audit, EveryBinaryCarriesTheProjectsVersion) {
  const std::vector<unsigned> version = {RIDEL_VERSION_MAJOR, RIDEL_VERSION_MINOR,
                                         RIDEL_VERSION_PATCH, 0};
  std::vector<unsigned> both = version;
  both.insert(both.end(), version.begin(), version.end());
  for (const Target& t : kTargets) {
    for (const char* file : {"qdx/ridel.dll", "sdt/ridel.dll", "vantrel/vantrel.dll",
                             "simulator/sdtapi.dll", "simulator/stdapi.dll",
                             "simulator/WltRS.dll", "recorder/sdtapi.dll", "recorder/stdapi.dll",
                             "recorder/WltRS.dll", "tools/idcard.exe", "tools/idcard-reader.exe"}) {
      SCOPED_TRACE(std::string(t.folder) + "/" + file);
      const testbed::Bytes bytes = testbed::read_file(dist(t.folder, file));
      ASSERT_FALSE(bytes.empty());
      EXPECT_EQ(fixed_version(bytes), both);
    }
  }
}

TEST_F(Audit, VantrelCarriesItsStringTable) {
  for (const Target& t : kTargets) {
    const testbed::pe::Image image = testbed::pe::read(dist(t.folder, "vantrel/vantrel.dll"));
    ASSERT_TRUE(image.ok) << t.folder;
    const auto& types = image.resource_types;
    EXPECT_NE(std::find(types.begin(), types.end(), testbed::pe::kResourceString), types.end())
        << t.folder;
  }
}

TEST_F(Audit, SimulatorExportsTheDriverAndDecoderUndecorated) {
  for (const Target& t : kTargets) {
    for (const char* dll : {"simulator/sdtapi.dll", "simulator/stdapi.dll"}) {
      const testbed::pe::Image image = testbed::pe::read(dist(t.folder, dll));
      ASSERT_TRUE(image.ok) << t.folder << "/" << dll;
      EXPECT_EQ(image.machine, t.machine);
      std::set<std::string> names;
      for (const auto& x : image.exports) names.insert(x.name);
      for (const char* entry : {"OpenPort", "ClosePort", "SetMaxRFByte", "GetCOMBaud",
                                "SetCOMBaud", "ResetSAM", "GetSAMStatus", "GetSAMID",
                                "GetSAMIDToStr", "StartFindIDCard", "SelectIDCard",
                                "ReadBaseMsg", "ReadMngInfo", "ReadNewAppMsg"})
        for (const char* prefix : {"QDX_", "SDT_"})
          EXPECT_TRUE(names.count(std::string(prefix) + entry)) << dll << " " << prefix << entry;
      EXPECT_TRUE(names.count("QDX_ANT"));
    }
    const testbed::pe::Image decoder = testbed::pe::read(dist(t.folder, "simulator/WltRS.dll"));
    ASSERT_TRUE(decoder.ok);
    EXPECT_TRUE(std::any_of(decoder.exports.begin(), decoder.exports.end(),
                            [](const auto& x) { return x.name == "GetBmp"; }));
  }
}

// ---- The Linux libraries ------------------------------------------------------------------------

// The shared objects of the editions in dist/linux-x86_64/, as the release build made them.
constexpr const char* kSharedObjects[] = {"qdx/libridel.so", "sdt/libridel.so",
                                          "vantrel/libvantrel.so"};

class LinuxBinding : public ::testing::Test {
 protected:
  // The installed copies differ from the built ones (install rewrites their run path), so only
  // their presence is checked here; make test builds dist/ before the audit runs.
  void SetUp() override {
    for (const char* so : kSharedObjects) {
      const std::string shipped = dist("linux-x86_64", so);
      std::error_code error;
      if (std::filesystem::exists(shipped, error)) continue;
      if (std::getenv("RIDEL_AUDIT_REQUIRED")) FAIL() << shipped << " is missing: run make dist";
      GTEST_SKIP() << shipped << " is missing: run make dist to audit the libraries";
    }
  }

  // The dynamic section as readelf prints it.
  static std::string dynamic_section(const std::string& so) {
    const std::string command = "readelf -d '" + dist("linux-x86_64", so) + "'";
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
      pclose(pipe);
    }
    EXPECT_NE(out.find("(SONAME)"), std::string::npos) << command << " printed no dynamic section";
    return out;
  }
};

// Each library binds its own calls inside itself, as a DLL does: an alias calls the library's own
// function even where the application or a library loaded with RTLD_GLOBAL has one of that name.
TEST_F(LinuxBinding, EditionsBindTheirOwnCallsInside) {
  static const std::regex symbolic(R"(\(SYMBOLIC\)|\(FLAGS\)[^\n]*SYMBOLIC)");
  for (const char* so : kSharedObjects)
    EXPECT_TRUE(std::regex_search(dynamic_section(so), symbolic)) << so << " is not -Bsymbolic";
}

// The SDT edition is bound at load, as Windows binds imports: with a driver that lacks one of its
// entry points the load fails, lazy or not, instead of the process ending at the first call.
TEST_F(LinuxBinding, SdtEditionIsBoundAtLoad) {
  static const std::regex now(R"(\(FLAGS\)[^\n]*BIND_NOW|\(FLAGS_1\)[^\n]*NOW)");
  EXPECT_TRUE(std::regex_search(dynamic_section("sdt/libridel.so"), now))
      << "sdt/libridel.so is not linked with -z now";
}

}  // namespace
