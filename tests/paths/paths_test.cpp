// Where each edition writes its result files when the host's executable or its folder has a
// name with a double-byte character whose second byte is 0x5C, the code of '\': under Wine with
// code page 936 淺 is the GBK bytes 9C 5C. Natively the same names are UTF-8 and nothing changes.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#else
#include <sys/stat.h>
#endif

#include "tests/support/testbed_gtest.h"

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kTrail[] = "\x9C\x5C";  // 淺 in GBK, the system's ANSI code page
constexpr char kProgramSuffix[] = ".exe";
#else
constexpr char kTrail[] = "\u6DFA";  // 淺 in UTF-8
constexpr char kProgramSuffix[] = "";
#endif

struct Edition {
  const char* name;
  testbed::LibraryFile library;
  std::vector<std::string> files;  // the result files of the host's reads, by their own names
  const char* report;              // what the host reports
  bool decodes_photo;              // whether the host also hands it a photo of its own
};

const Edition kEditions[] = {
    {"qdx",
     testbed::kQdxEdition,
     {"wz.txt", "xp.wlt", "zp.wlt", "zp.bmp", "NEWADDR.txt", "IINSNDN.bin", "123456.txt",
      "123456.wlt", "123456.bmp"},
     // InitComm, Authenticate, Read_Content 1, 3, 5 and 6 (files named after the SAM number).
     "1 1 1 1 1 1", false},
    {"sdt",
     testbed::kSdtEdition,
     {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt"},
     // OpenComm, ReadBaseInfo 1, 2, 5, 3 and 4, the lengths of name, picture path and appended
     // address, then the picture path itself: zp.bmp in the host's folder.
     "1 1 1 1 1 1 6 {picture}", false},
    {"vantrel",
     testbed::kVantrelEdition,
     {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"},
     // InitComm, Authenticate, Read_Content 1, 3 and 5, the photo copied, SetPhotoData on it
     // (whose bitmap lies in the output folder under the photo's own name), the bitmap's bytes.
     "1 1 1 1 1 1 1 38862", true},
};

// Where the host lies, below a folder of the test's own.
struct Placement {
  const char* name;
  std::string folder;   // below the test's folder, ending in a separator
  std::string program;  // the host's file name
};

std::vector<Placement> placements() {
  const std::string host = std::string("host") + kProgramSuffix;
  return {{"ProgramName", "", kTrail + std::string(kProgramSuffix)},
          {"FolderName", kTrail + std::string(1, plat::kPathSeparator), host},
          {"Both", kTrail + std::string(kTrail) + plat::kPathSeparator, kTrail + host}};
}

struct Case {
  const Edition* edition;
  Placement placement;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.edition->name << ", " << c.placement.name;
}

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const Edition& e : kEditions)
    for (const Placement& p : placements()) all.push_back({&e, p});
  return all;
}

void make_folder(const std::string& path) {
#if defined(_WIN32)
  ASSERT_EQ(_mkdir(path.c_str()), 0) << path;
#else
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
#endif
}

class TrailByte : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override {
    std::error_code error;
    fs::remove_all(fs::path(top_), error);
  }

  // A folder of plain characters below the test's folder, removed again at the end: whatever
  // name lies below it, the whole of it goes.
  const std::string top_ = testbed::output_folder() + "trail-byte" + plat::kPathSeparator;
};

TEST_P(TrailByte, ResultFilesGoIntoTheHostsFolderUnderTheirOwnNames) {
  const Edition& e = *GetParam().edition;
  const Placement& p = GetParam().placement;
  std::error_code error;
  fs::remove_all(fs::path(top_), error);
  make_folder(top_);
  if (!p.folder.empty()) make_folder(top_ + p.folder);
  const std::string folder = top_ + p.folder;
  const std::string program = folder + p.program;
  const std::string built = testbed::output_folder() + "paths_edition_host" + kProgramSuffix;
  ASSERT_TRUE(plat::copy_file(built.c_str(), program.c_str()));
#if !defined(_WIN32)
  fs::permissions(fs::path(program), fs::perms::owner_all);
#endif
  const std::string report = testbed::output_folder() + "trail_report.txt";
  plat::delete_file(report.c_str());
  std::vector<std::string> args = {e.name, testbed::simulator_path(SIM_LIB_SDTAPI),
                                   testbed::simulator_path(SIM_LIB_WLTRS),
                                   testbed::library_path(e.library), report};
  std::vector<std::string> files = e.files;
  if (e.decodes_photo) {
    const std::string photo = std::string(kTrail) + ".wlt";
    args.push_back(folder + photo);
    files.push_back(photo);  // SetPhotoData deletes the bitmap it decoded
  }
  ASSERT_EQ(testbed::run_program(program, args), 0);

  const testbed::Bytes bytes = testbed::read_file(report);
  plat::delete_file(report.c_str());
  std::string expected = e.report;
  const std::string picture = folder + "zp.bmp";
  if (const std::size_t at = expected.find("{picture}"); at != std::string::npos)
    expected.replace(at, 9, std::to_string(picture.size()) + " 34\n" + picture);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);

  for (const std::string& name : files)
    EXPECT_TRUE(plat::file_exists((folder + name).c_str())) << name << " is not in the folder";
  // Nothing else anywhere below: the host and its result files are all there is.
  std::size_t count = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fs::path(top_)))
    count += entry.is_regular_file();
  EXPECT_EQ(count, files.size() + 1);
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.edition->name) + "_" + info.param.placement.name;
}

INSTANTIATE_TEST_SUITE_P(Editions, TrailByte, ::testing::ValuesIn(cases()), case_name);

}  // namespace
