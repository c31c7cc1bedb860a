#include "tests/support/testbed_gtest.h"

namespace testbed {

EditionTest::EditionTest(std::string library_path, std::vector<std::string> result_files)
    : library_path_(std::move(library_path)), result_files_(std::move(result_files)) {}

void EditionTest::SetUp() {
  sim().load_all();
  sim().reset();
  remove_result_files();
}

void EditionTest::TearDown() { unload_edition(); }

Library& EditionTest::edition() {
  if (!edition_) edition_ = std::make_unique<Library>(library_path_);
  return *edition_;
}

void EditionTest::unload_edition() { edition_.reset(); }

bool EditionTest::exists(const std::string& name) const {
  return plat::file_exists(out(name).c_str());
}

void EditionTest::remove_result_files() const {
  for (const std::string& name : result_files_) plat::delete_file(out(name).c_str());
}

}  // namespace testbed

// The suites' main: what the test bed cannot do fails the running case, which goes on.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testbed::set_failure_handler([](const std::string& message) { ADD_FAILURE() << message; });
  return RUN_ALL_TESTS();
}
