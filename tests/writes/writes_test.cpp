// What each edition's read gives when a result file cannot be written whole: on a full disk, and
// with a link, a dangling link, a named pipe or a folder under the name of its first result file.
// The host program reads in folders that folders.sh made before the suite (CTest runs it).
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/testbed_gtest.h"
#include "tests/support/vantrel_fixture.h"

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kProgramSuffix[] = ".exe";
constexpr std::uint32_t kDiskFull = 112;  // ERROR_DISK_FULL
#else
constexpr char kProgramSuffix[] = "";
constexpr std::uint32_t kDiskFull = 28;  // ENOSPC
#endif

struct Edition {
  const char* name;
  std::string (*library)();
  const char* first_file;  // blocked by the cases (folders.sh makes the obstacle under it)
  const char* written;     // the host's report when every file is written
  const char* failed;      // ... when the first one cannot be
};

const Edition kEditions[] = {
    // InitComm, Authenticate, Read_Content 4 and 1.
    {"qdx", [] { return testbed::library_path(testbed::kQdxEdition); }, "wz.txt", "1 1 1 1",
     "1 1 0 0"},
    // OpenComm, ReadBaseInfo 1.
    {"sdt", [] { return testbed::library_path(testbed::kSdtEdition); }, "wz.txt", "1 1", "1 -8"},
    // InitComm, Authenticate, Read_Content 1.
    {"vantrel", vantrel_test::library_path, "WZ.txt", "1 1 1", "1 1 0"},
};

std::string cases_folder() { return testbed::output_folder() + "cases" + plat::kPathSeparator; }

const std::string kHost = std::string("writes_host") + kProgramSuffix;

// Copies the host program into `folder`.
void place_host(const std::string& folder) {
  std::error_code error;
  fs::copy_file(fs::path(testbed::output_folder() + kHost), fs::path(folder + kHost),
                fs::copy_options::overwrite_existing, error);
  ASSERT_FALSE(error) << error.message();
#if !defined(_WIN32)
  fs::permissions(fs::path(folder + kHost), fs::perms::owner_all);
#endif
}

// Has the host in `folder` read through the edition; its report.
std::string read_in(const Edition& e, const std::string& folder) {
  const std::string report = testbed::output_folder() + "writes_report.txt";
  plat::delete_file(report.c_str());
  EXPECT_EQ(testbed::run_program(folder + kHost, {e.name, testbed::simulator_path(SIM_LIB_SDTAPI),
                                                  testbed::simulator_path(SIM_LIB_WLTRS),
                                                  e.library(), report}),
            0);
  const testbed::Bytes bytes = testbed::read_file(report);
  plat::delete_file(report.c_str());
  return std::string(bytes.begin(), bytes.end());
}

std::string text_of(const std::string& path) {
  const testbed::Bytes bytes = testbed::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// ---- A full disk --------------------------------------------------------------------------------

TEST(FullDisk, EveryEditionFailsTheReadAndLeavesNoResultFile) {
  const std::string folder = cases_folder() + "full" + plat::kPathSeparator;
  if (!plat::file_exists(folder.c_str()))
    GTEST_SKIP() << "no small file system at " << folder << ": folders.sh mounts a tmpfs there "
                 << "when the tests run as root through CTest";
  // The host first, then a file that takes every byte left.
  ASSERT_NO_FATAL_FAILURE(place_host(folder));
  {
    plat::File filler = plat::create_file((folder + "filler").c_str(), plat::Share::Read);
    ASSERT_TRUE(filler.is_open());
    const std::string chunk(4096, 'f');
    while (filler.write(chunk.data(), chunk.size()) == chunk.size()) {
    }
  }
  plat::delete_file(vantrel_test::log_path().c_str());
  for (const Edition& e : kEditions) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(read_in(e, folder), e.failed);
    // Nothing but the host and the filler: no empty or partial result file.
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(folder)))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"filler", kHost}));
  }
  // vantrel logs the failed write as it logs a file it cannot create, with the system's reason.
  const std::string log = text_of(vantrel_test::log_path());
  const std::string entry = vantrel_test::entry(1010, kDiskFull, folder + "WZ.txt");
  EXPECT_NE(log.find(entry), std::string::npos) << log;
}

// ---- Links, pipes and folders under a result file's name ---------------------------------------

struct Case {
  const Edition* edition;
  const char* kind;  // link, dangling, fifo or folder, as folders.sh makes them
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.edition->name << ", " << c.kind; }

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const Edition& e : kEditions)
    for (const char* kind : {"link", "dangling", "fifo", "folder"}) all.push_back({&e, kind});
  return all;
}

class Blocked : public ::testing::TestWithParam<Case> {};

TEST_P(Blocked, NothingIsWrittenThroughAndNothingWaits) {
  const Edition& e = *GetParam().edition;
  const std::string kind = GetParam().kind;
  const std::string base = cases_folder() + e.name + "-" + kind;
  const std::string folder = base + plat::kPathSeparator;
  const std::string name = folder + e.first_file;
  const std::string target = base + ".target";  // where the links point
  if (!plat::file_exists(folder.c_str()))
    GTEST_SKIP() << "no " << folder << ": folders.sh makes it when CTest runs the suite";
#if defined(_WIN32)
  // Wine shows a link to an existing file as that file, and its DeleteFile removes the link's
  // target: no Windows call here tells the link apart, so the write goes through it.
  if (kind == "link") GTEST_SKIP() << "Wine cannot tell a link to a file from the file";
#endif
  ASSERT_NO_FATAL_FAILURE(place_host(folder));
  const std::string report = read_in(e, folder);
  std::error_code error;
  const auto type = fs::symlink_status(fs::path(name), error).type();
  if (kind == "link" || kind == "dangling") {
#if defined(_WIN32)
    // A dangling link has no attributes under Wine: the creation fails without touching it.
    const bool replaced = kind == "link";
#else
    const bool replaced = true;
#endif
    EXPECT_EQ(report, replaced ? e.written : e.failed);
    if (replaced) {
      // The link itself was replaced by the result file; its target kept what it held.
      EXPECT_EQ(type, fs::file_type::regular);
      EXPECT_FALSE(text_of(name).empty());
    }
    if (kind == "link") {
      EXPECT_EQ(text_of(target), "target\n");
    } else {
      EXPECT_FALSE(plat::file_exists(target.c_str())) << "the dangling link was followed";
    }
  } else {
    EXPECT_EQ(report, e.failed);
#if !defined(_WIN32)
    EXPECT_EQ(type, kind == "fifo" ? fs::file_type::fifo : fs::file_type::directory);
#else
    if (kind == "folder") {
      EXPECT_EQ(type, fs::file_type::directory);
    }
#endif
  }
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.edition->name) + "_" + info.param.kind;
}

INSTANTIATE_TEST_SUITE_P(Editions, Blocked, ::testing::ValuesIn(cases()), case_name);

}  // namespace
