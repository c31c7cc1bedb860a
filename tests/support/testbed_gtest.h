// The test bed in the GoogleTest suites: its failures reported as test failures, and the base of
// the edition fixtures.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/testbed.h"

namespace testbed {

// Base of the edition suites: the simulator loaded and reset, the edition's result files removed
// before each case, the edition loaded on first use and unloaded (checked to be gone) at its end.
class EditionTest : public ::testing::Test {
 protected:
  EditionTest(std::string library_path, std::vector<std::string> result_files);
  void SetUp() override;
  void TearDown() override;

  Simulator& sim() { return Simulator::instance(); }
  Library& edition();
  void unload_edition();

  std::string out(const std::string& name) const { return output_folder() + name; }
  bool exists(const std::string& name) const;
  Bytes read(const std::string& name) const { return read_file(out(name)); }
  void remove_result_files() const;

 private:
  std::string library_path_;
  std::vector<std::string> result_files_;
  std::unique_ptr<Library> edition_;
};

}  // namespace testbed
