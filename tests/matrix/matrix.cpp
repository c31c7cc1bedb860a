#include "tests/matrix/matrix.h"

#include <filesystem>

#include "driver/sdtapi.h"
#include "tests/support/sdt_fixture.h"

namespace matrix {

Guarded::Guarded(std::size_t size, unsigned char fill)
    : size_(size), storage_(size + 2 * kGuardBytes, kGuard) {
  std::fill_n(storage_.begin() + kGuardBytes, size, fill);
}

testbed::Bytes Guarded::content() const {
  const auto begin = storage_.begin() + kGuardBytes;
  return testbed::Bytes(begin, begin + static_cast<long>(size_));
}

::testing::AssertionResult Guarded::intact() const {
  for (std::size_t i = 0; i < storage_.size(); ++i) {
    if (i >= kGuardBytes && i < kGuardBytes + size_) continue;
    if (storage_[i] != kGuard) {
      const long at = static_cast<long>(i) - static_cast<long>(kGuardBytes);
      return ::testing::AssertionFailure() << "byte " << at << " of a buffer of " << size_
                                           << " bytes was written";
    }
  }
  return ::testing::AssertionSuccess();
}

Snapshot::Snapshot(const Names& names) {
  for (const std::string& name : names) {
    const std::string path = testbed::output_folder() + name;
    files_[name] = plat::file_exists(path.c_str()) ? std::optional(testbed::read_file(path))
                                                   : std::nullopt;
  }
}

namespace {

std::optional<testbed::Bytes> now(const std::string& name) {
  const std::string path = testbed::output_folder() + name;
  if (!plat::file_exists(path.c_str())) return std::nullopt;
  return testbed::read_file(path);
}

}  // namespace

::testing::AssertionResult Snapshot::kept(const Names& names) const {
  for (const std::string& name : names) {
    const auto it = files_.find(name);
    if (it == files_.end()) return ::testing::AssertionFailure() << name << " not in the snapshot";
    if (now(name) != it->second) return ::testing::AssertionFailure() << name << " was changed";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Snapshot::renewed(const Names& names) const {
  for (const std::string& name : names) {
    const auto it = files_.find(name);
    if (it == files_.end()) return ::testing::AssertionFailure() << name << " not in the snapshot";
    const std::optional<testbed::Bytes> bytes = now(name);
    if (!bytes) return ::testing::AssertionFailure() << name << " is missing";
    if (bytes == it->second) return ::testing::AssertionFailure() << name << " was not rewritten";
  }
  return ::testing::AssertionSuccess();
}

// ---- Faults -------------------------------------------------------------------------------------

Faults::~Faults() {
  if (partial_) testbed::Simulator::instance().unload(SIM_LIB_SDTAPI);
  for (const std::string& name : blocked_) std::filesystem::remove(testbed::output_folder() + name);
}

void Faults::apply(Missing missing) {
  testbed::Simulator& sim = testbed::Simulator::instance();
  switch (missing) {
    case Missing::Nothing:
      return;
    case Missing::Driver:
      sim.unload(SIM_LIB_SDTAPI);
      EXPECT_EQ(plat::find_loaded_module(drv::kUsbDriverFile), nullptr) << "still loaded";
      return;
    case Missing::Decoder:
      sim.unload(SIM_LIB_WLTRS);
      EXPECT_EQ(plat::find_loaded_module(drv::kDecoderFile), nullptr) << "still loaded";
      return;
    case Missing::Entries:
      // Loaded first under the driver's file name, the partial driver is the sdtapi that the
      // editions then find.
      sim.unload(SIM_LIB_SDTAPI);
      sim.load(SIM_LIB_SDTAPI, testbed::kPartialDriver);
      partial_ = sim.loaded(SIM_LIB_SDTAPI);
      ASSERT_TRUE(partial_);
      return;
  }
}

void Faults::script_partial(int entry, int port, int status) const {
  testbed::Simulator::instance().set_status(entry, status, port, SIM_LIB_SDTAPI);
}

Names Faults::partial_journal() const {
  Names lines;
  for (const SimCall& call : testbed::Simulator::instance().journal())
    if (call.library == SIM_LIB_SDTAPI) lines.push_back(testbed::describe(call));
  return lines;
}

void Faults::block(const std::string& name) {
  const std::string path = testbed::output_folder() + name;
  plat::delete_file(path.c_str());
  std::filesystem::create_directory(path);
  blocked_.push_back(name);
}

plat::File hold(const std::string& name) { return sdt_test::hold(testbed::output_folder() + name); }

int run_child(const std::string& program, const std::string& filter, const char* variable,
              const std::string& value) {
  const std::string log = testbed::output_folder() + "child.log";
  const std::string command =
      "\"" + program + "\" --gtest_filter=" + filter + " >\"" + log + "\" 2>&1";
  testbed::set_variable(variable, value);
  const int status = testbed::run_command(command);
  testbed::set_variable(variable, "");
  const testbed::Bytes output = testbed::read_file(log);
  EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
  plat::delete_file(log.c_str());
  return status;
}

#if !defined(_WIN32)
ProgramCopy::ProgramCopy(std::size_t length, const Names& links)
    : root_(testbed::output_folder() + "long/") {
  namespace fs = std::filesystem;
  const std::string exe(plat::executable_path());
  const std::string folder = "/tests/matrix/";
  // Below the root, a run of characters broken into names of 100 at most.
  std::string padding(length - root_.size() - folder.size(), 'p');
  for (std::size_t i = 100; i + 1 < padding.size(); i += 100) padding[i] = '/';
  const std::string top = root_ + padding;
  fs::create_directories(top + folder);
  for (const std::string& link : links)
    fs::create_directory_symlink(fs::canonical(testbed::build_path(link)), top + "/" + link);
  path_ = top + folder + exe.substr(exe.rfind('/') + 1);
  fs::copy_file(exe, path_);
  fs::permissions(path_, fs::perms::owner_all);
}

ProgramCopy::~ProgramCopy() {
  std::error_code error;
  std::filesystem::remove_all(root_, error);
}
#endif

}  // namespace matrix
