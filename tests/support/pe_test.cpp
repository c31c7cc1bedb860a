// The PE reader that the export and import checks rely on.
#include "tests/support/pe.h"

#include <algorithm>
#include <cctype>

#include "tests/support/bench.h"

namespace {

[[maybe_unused]] std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(PeReader, RefusesWhatIsNoPeImage) {
  EXPECT_FALSE(bench::pe::read(bench::exe_dir() + "no-such-file.dll").ok);
#if !defined(_WIN32)
  EXPECT_FALSE(bench::pe::read(std::string(plat::executable_path())).ok);  // an ELF file
#endif
}

#if defined(_WIN32)
TEST(PeReader, ReadsMachineAndImportsOfThisProgram) {
  const bench::pe::Image image = bench::pe::read(std::string(plat::executable_path()));
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(image.machine, sizeof(void*) == 8 ? bench::pe::kMachineAmd64 : bench::pe::kMachineI386);
  bool kernel32 = false;
  for (const auto& [dll, names] : image.imports) {
    if (lower(dll) != "kernel32.dll") continue;
    kernel32 = true;
    EXPECT_NE(std::find(names.begin(), names.end(), "LoadLibraryA"), names.end());
  }
  EXPECT_TRUE(kernel32);
}

TEST(PeReader, ReadsTheExportDirectoryOfTheDecoder) {
  const bench::pe::Image image = bench::pe::read(bench::build_path("simulator/WltRS.dll"));
  ASSERT_TRUE(image.ok);
  EXPECT_EQ(lower(image.export_name), "wltrs.dll");
  const auto found = std::find_if(image.exports.begin(), image.exports.end(),
                                  [](const bench::pe::Export& e) { return e.name == "GetBmp"; });
  ASSERT_NE(found, image.exports.end());
  EXPECT_GE(found->ordinal, 1u);
}
#endif

}  // namespace
