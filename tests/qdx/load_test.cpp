// Loading the QDX edition: its export names, what the Windows library imports, the output folder,
// and the process's thread notifications.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/qdx/qdx_test.h"
#include "tests/support/pe.h"

namespace {

// Sorted, as they are compared.
const std::vector<std::string> kExports = {
    "Authenticate",     "CloseComm",       "InitComm",          "QDX_Ant",
    "QDX_Authenticate", "QDX_CloseComm",   "QDX_GetDllVersion", "QDX_InitComm",
    "QDX_ReadBaseMsg",  "QDX_Read_Content", "Read_Content",     "TC_Authenticate",
    "TC_CloseComm",     "TC_InitComm",     "TC_Read_Content",   "TC_Read_Content_Path",
};

class QdxLoad : public qdx_test::QdxTest {};

TEST_F(QdxLoad, EveryNameResolvesAndNothingInternalDoes) {
  ASSERT_TRUE(std::is_sorted(kExports.begin(), kExports.end()));
  for (const std::string& name : kExports) EXPECT_NE(edition().symbol(name.c_str()), nullptr) << name;
  for (const char* name : {"DllMain", "_ZN3qdx6attachEv", "_ZN3qdx5setupE", "attach", "ReadContent"})
    EXPECT_EQ(edition().symbol(name), nullptr) << name;
}

#if defined(_WIN32)
std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(QdxPeImage, ExportsExactlyTheApiByNameAndImportsOnlyTheSystem) {
  const bench::pe::Image image = bench::pe::read(qdx_test::library_path());
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(image.machine, sizeof(void*) == 8 ? bench::pe::kMachineAmd64 : bench::pe::kMachineI386);
  EXPECT_EQ(lower(image.export_name), "ridel.dll");
  std::vector<std::string> names;
  for (const bench::pe::Export& e : image.exports) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, kExports);  // undecorated: no "@4" and no leading "_"
  // The driver and the decoder are bound at load by name, and the C++ runtime is inside.
  for (const auto& [library, functions] : image.imports) {
    const std::string dll = lower(library);
    EXPECT_NE(dll, "sdtapi.dll");
    EXPECT_NE(dll, "wltrs.dll");
    EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << dll;
    EXPECT_EQ(dll.find("libgcc"), std::string::npos) << dll;
    EXPECT_EQ(dll.find("libwinpthread"), std::string::npos) << dll;
  }
}
#endif

// A thread starting and ending in the process notifies the library; its state stays.
TEST_F(QdxLoad, ThreadNotificationsLeaveTheSessionAlone) {
  open();
  std::thread([] {}).join();
  EXPECT_EQ(CloseComm(), 1);  // the session flag is still set
  EXPECT_EQ(sim().journal_lines(), std::vector<std::string>{"sdtapi QDX_ClosePort(1001)"});
  EXPECT_EQ(Read_Content(5), 0);  // the port is closed; the driver says so
  EXPECT_EQ(sim().count(SIM_READ_MNG_INFO), 1);
}

// ---- The output folder --------------------------------------------------------------------------

TEST_F(QdxLoad, ResultFilesGoBesideTheExecutableWhateverTheWorkingFolder) {
  namespace fs = std::filesystem;
  const fs::path before = fs::current_path();
  const fs::path elsewhere = fs::path(out("elsewhere"));
  fs::create_directories(elsewhere);
  fs::current_path(elsewhere);
  open_and_authenticate();  // the edition is loaded here, with another working folder
  EXPECT_EQ(Read_Content(4), 1);
  fs::current_path(before);
  EXPECT_TRUE(exists("wz.txt"));
  EXPECT_FALSE(fs::exists(elsewhere / "wz.txt"));
  EXPECT_EQ(sim().journal_lines(SIM_GET_BMP), std::vector<std::string>{get_bmp_line("zp.wlt")});
  fs::remove_all(elsewhere);
}

#if !defined(_WIN32)
// The executable's path is read into 260 characters. A folder that lies within them is the output
// folder, however long the file name after it; a folder that does not would be cut to a wrong,
// shorter one, so then no result file is written at all. The parent case runs a copy of this
// program from such folders; the child case is what that copy runs.
TEST_F(QdxLoad, LongFolderChild) {
  const char* expected = std::getenv("QDX_FOLDER_CHECK");
  if (!expected) GTEST_SKIP() << "run by LongExecutablePathsWriteNowhereElse";
  const bool fits = std::string(expected) == "fits";
  open_and_authenticate();
  for (int mode = 1; mode <= 6; ++mode) EXPECT_EQ(Read_Content(mode), fits ? 1 : 0) << mode;
  // The driver was asked every time; only the files were refused.
  EXPECT_EQ(sim().count(SIM_READ_BASE_MSG), 4);
  EXPECT_EQ(exists("wz.txt"), fits);
  EXPECT_EQ(exists("zp.bmp"), fits);
  EXPECT_FALSE(std::filesystem::exists("wz.txt"));  // the working folder
  if (!fits) {
    const std::string cut_folder(plat::folder_of(plat::executable_path().view().substr(0, 260)));
    EXPECT_FALSE(plat::file_exists((cut_folder + "wz.txt").c_str())) << cut_folder;
  }
}

// On Linux every edition finds the driver and decoder as the loader finds a dependency: after
// LD_LIBRARY_PATH, in the library's own folder. The parent case puts the edition and the
// simulator's driver and decoder into a folder of their own; the child case, run without any
// simulator loaded first, loads the edition from there.
TEST(QdxDriverSearch, Child) {
  const char* edition = std::getenv("QDX_EDITION_COPY");
  if (!edition) GTEST_SKIP() << "run by DriverAndDecoderBesideTheLibrary";
  const std::string folder(plat::folder_of(edition));
  plat::Module m = plat::load_library(edition);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(plat::module_path(plat::find_loaded_module("sdtapi.dll")), folder + "libsdtapi.so");
  EXPECT_EQ(plat::module_path(plat::find_loaded_module("WltRs.dll")), folder + "libwltrs.so");
  using InitCommFn = int(WINAPI*)(int);
  const auto init_comm = reinterpret_cast<InitCommFn>(plat::entry_point(m, "InitComm"));
  ASSERT_NE(init_comm, nullptr);
  EXPECT_EQ(init_comm(1001), 1);  // the simulated reader answers
}

TEST(QdxDriverSearch, DriverAndDecoderBesideTheLibrary) {
  namespace fs = std::filesystem;
  const std::string folder = bench::exe_dir() + "beside/";
  fs::remove_all(folder);
  fs::create_directories(folder + "cwd");
  for (const char* file : {"qdx/libridel.so", "simulator/libsdtapi.so", "simulator/libwltrs.so"})
    fs::copy_file(bench::build_path(file), folder + fs::path(file).filename().string());
  const std::string log = folder + "child.log";
  const std::string command = "cd '" + folder + "cwd' && unset LD_LIBRARY_PATH && " +
                              "QDX_EDITION_COPY='" + folder + "libridel.so' '" +
                              std::string(plat::executable_path()) +
                              "' --gtest_filter=QdxDriverSearch.Child >'" + log + "' 2>&1";
  const int status = std::system(command.c_str());
  const bench::Bytes output = bench::read_file(log);
  EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
  fs::remove_all(folder);
}

TEST(QdxLongFolder, LongExecutablePathsWriteNowhereElse) {
  namespace fs = std::filesystem;
  const std::string exe(plat::executable_path());
  const fs::path build = fs::canonical(bench::build_path(""));
  const std::string root = bench::exe_dir() + "long/";
  struct Case {
    std::size_t folder;  // characters of the copy's folder, its last separator included
    std::size_t path;    // characters of the copy's whole path
    bool fits;
  };
  const Case cases[] = {
      {240, 260, true},   // the whole path within the buffer
      {245, 288, true},   // cut inside the file name: the folder is whole
      {260, 290, true},   // the folder's separator is the 260th character
      {261, 271, false},  // cut inside the folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.folder << "/" << c.path);
    // <root><padding>/tests/qdx/<name>, beside links to the build's libraries, so that the copy
    // finds them as this program does.
    const std::string tail = "/tests/qdx/";
    std::string padding(c.folder - root.size() - tail.size(), 'p');
    for (std::size_t i = 100; i < padding.size() - 1; i += 100) padding[i] = '/';
    const fs::path top = root + padding;
    fs::create_directories(top / "tests" / "qdx");
    fs::create_directories(root + "cwd");
    fs::create_directory_symlink(build / "simulator", top / "simulator");
    fs::create_directory_symlink(build / "qdx", top / "qdx");
    const std::string folder = top.string() + tail;
    ASSERT_EQ(folder.size(), c.folder);
    const std::string copy = folder + "qdx_tests" + std::string(c.path - c.folder - 9, 'n');
    ASSERT_EQ(copy.size(), c.path);
    fs::copy_file(exe, copy);
    fs::permissions(copy, fs::perms::owner_all);
    const std::string log = bench::exe_dir() + "long.log";
    const std::string command = "cd '" + root + "cwd' && QDX_FOLDER_CHECK=" +
                                (c.fits ? "fits" : "too-long") + " '" + copy +
                                "' --gtest_filter=QdxLoad.LongFolderChild >'" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    const bench::Bytes output = bench::read_file(log);
    EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
    fs::remove(log);
    fs::remove_all(root);
  }
}
#endif

}  // namespace
