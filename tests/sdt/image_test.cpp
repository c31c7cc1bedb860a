// The library as a file: its export table and what it imports (Windows), and where its result
// files go when the application's folder is long.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/sdt_fixture.h"
#include "tests/support/pe.h"

namespace sdt_test {
namespace {

#if defined(_WIN32)

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(Image, ExportsEveryNameAtItsOrdinal) {
  const testbed::pe::Image image = testbed::pe::read(library_path());
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(image.machine,
            sizeof(void*) == 8 ? testbed::pe::kMachineAmd64 : testbed::pe::kMachineI386);
  EXPECT_EQ(image.export_name, "ridel.dll");
  const std::vector<testbed::pe::Export> expected = {
      {1, "OpenComm"},  {2, "CloseComm"}, {3, "SelectCard"}, {4, "ReadBaseInfo"},
      {5, "GetSamID"},  {10, "GetAddr"},  {11, "GetBegin"},  {12, "GetName"},
      {13, "GetSex"},   {14, "GetFolk"},  {15, "GetIDNum"},  {16, "GetDep"},
      {17, "GetBirth"}, {18, "GetEnd"},   {19, "GetNewAddr"}, {20, "GetPicPath"}};
  EXPECT_EQ(image.exports, expected);
}

TEST(Image, ImportsTheDriverAndDecoderByTheirPlainNames) {
  const testbed::pe::Image image = testbed::pe::read(library_path());
  ASSERT_TRUE(image.ok);
  const std::vector<std::string> driver = {
      "SDT_ClosePort",     "SDT_GetSAMID",    "SDT_GetSAMStatus", "SDT_OpenPort",
      "SDT_ReadBaseMsg",   "SDT_ReadMngInfo", "SDT_ReadNewAppMsg", "SDT_SelectIDCard",
      "SDT_StartFindIDCard"};
  const std::vector<std::string> system = {"kernel32.dll", "msvcrt.dll", "user32.dll",
                                           "advapi32.dll", "ucrtbase.dll"};
  ASSERT_EQ(image.imports.count("sdtapi.dll"), 1u);
  ASSERT_EQ(image.imports.count("WltRS.dll"), 1u);
  std::vector<std::string> names = image.imports.at("sdtapi.dll");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, driver);
  EXPECT_EQ(image.imports.at("WltRS.dll"), std::vector<std::string>{"GetBmp"});
  for (const auto& [dll, imported] : image.imports) {
    if (dll == "sdtapi.dll" || dll == "WltRS.dll") continue;
    const std::string name = lower(dll);
    EXPECT_TRUE(std::find(system.begin(), system.end(), name) != system.end() ||
                name.rfind("api-ms-win-", 0) == 0)
        << dll << " is not a system library";
  }
}

#endif

// A host application in a folder of a chosen length reads the sample card.
class Folder : public SdtTest {
 protected:
  // Runs the host from a folder of `length` bytes (separator included) below the suite's
  // folder and returns its report line.
  std::string run_host_in_folder_of(std::size_t length) {
    namespace fs = std::filesystem;
    const std::string top = out("deep-");
    EXPECT_LT(top.size() + 2, length);
    folder_ = top + std::string(length - top.size() - 1, 'x') + plat::kPathSeparator;
    EXPECT_EQ(folder_.size(), length);
    std::error_code error;
    fs::remove_all(fs::path(folder_), error);
    fs::create_directories(fs::path(folder_));
    const std::string host = std::string("sdt_long_folder_host") +
#if defined(_WIN32)
                             ".exe";
#else
                             "";
#endif
    fs::copy_file(fs::path(out(host)), fs::path(folder_ + host),
                  fs::copy_options::overwrite_existing);
    const std::string report = out("folder_report.txt");
    plat::delete_file(report.c_str());
    EXPECT_EQ(testbed::run_program(folder_ + host, {testbed::simulator_path(SIM_LIB_SDTAPI),
                                                    testbed::simulator_path(SIM_LIB_WLTRS),
                                                    library_path(), report}),
              0);
    const testbed::Bytes line = testbed::read_file(report);
    plat::delete_file(report.c_str());
    return std::string(line.begin(), line.end());
  }

  bool in_folder(const char* name) const { return plat::file_exists((folder_ + name).c_str()); }

  void TearDown() override {
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(std::filesystem::path(folder_), error);
    SdtTest::TearDown();
  }

  std::string folder_;
};

const char* const kFiles[] = {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt",
                              "NewAdd1.txt"};

TEST_F(Folder, FolderOf127BytesTakesTheFilesAndA133BytePicturePath) {
  // Opened, read types 1, 2, 5, 3 and 4, then the lengths of name, picture path and appended
  // address of the sample card.
  EXPECT_EQ(run_host_in_folder_of(127), "1 1 1 1 1 1 6 133 34");
  for (const char* name : kFiles) EXPECT_TRUE(in_folder(name)) << name;
}

TEST_F(Folder, LongerFolderFailsTheReadsAndWritesNowhere) {
  // The values are still read; no file is written and no picture path handed out.
  EXPECT_EQ(run_host_in_folder_of(128), "1 -8 -8 -8 -8 1 6 0 34");
  for (const char* name : kFiles) {
    EXPECT_FALSE(in_folder(name)) << name;
    EXPECT_FALSE(exists(name)) << name << " went into the cut folder";
  }
}

}  // namespace
}  // namespace sdt_test
