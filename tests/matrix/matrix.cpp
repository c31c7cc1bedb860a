#include "tests/matrix/matrix.h"

#include <cstdlib>
#include <filesystem>

#include "driver/sdtapi.h"
#include "tests/sdt/sdt_test.h"

namespace matrix {

Guarded::Guarded(std::size_t size, unsigned char fill)
    : size_(size), storage_(size + 2 * kGuardBytes, kGuard) {
  std::fill_n(storage_.begin() + kGuardBytes, size, fill);
}

bench::Bytes Guarded::content() const {
  const auto begin = storage_.begin() + kGuardBytes;
  return bench::Bytes(begin, begin + static_cast<long>(size_));
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
    const std::string path = bench::exe_dir() + name;
    files_[name] = plat::file_exists(path.c_str()) ? std::optional(bench::read_file(path))
                                                   : std::nullopt;
  }
}

namespace {

std::optional<bench::Bytes> now(const std::string& name) {
  const std::string path = bench::exe_dir() + name;
  if (!plat::file_exists(path.c_str())) return std::nullopt;
  return bench::read_file(path);
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
    const std::optional<bench::Bytes> bytes = now(name);
    if (!bytes) return ::testing::AssertionFailure() << name << " is missing";
    if (bytes == it->second) return ::testing::AssertionFailure() << name << " was not rewritten";
  }
  return ::testing::AssertionSuccess();
}

// ---- Faults -------------------------------------------------------------------------------------

namespace {

const char* const kPartialDriver =
#if defined(_WIN32)
    "tests/matrix/partial/sdtapi.dll";
#else
    "tests/matrix/partial/libsdtapi.so";
#endif

}  // namespace

Faults::~Faults() {
  plat::free_library(partial_);
  for (const std::string& name : blocked_) std::filesystem::remove(bench::exe_dir() + name);
}

void Faults::apply(Missing missing) {
  bench::Simulator& sim = bench::Simulator::instance();
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
      partial_ = plat::load_library(bench::build_path(kPartialDriver).c_str());
      ASSERT_NE(partial_, nullptr) << "cannot load " << kPartialDriver;
      reinterpret_cast<void(WINAPI*)()>(plat::entry_point(partial_, "Sim_Reset"))();
      return;
  }
}

void Faults::script_partial(int entry, int port, int status) const {
  using Fn = void(WINAPI*)(int, int, int);
  reinterpret_cast<Fn>(plat::entry_point(partial_, "Sim_SetStatus"))(entry, port, status);
}

Names Faults::partial_journal() const {
  using Size = int(WINAPI*)();
  using Entry = int(WINAPI*)(int, SimCall*);
  const int n = reinterpret_cast<Size>(plat::entry_point(partial_, "Sim_JournalSize"))();
  const auto entry = reinterpret_cast<Entry>(plat::entry_point(partial_, "Sim_JournalEntry"));
  Names lines;
  for (int i = 0; i < n; ++i) {
    SimCall call{};
    if (entry(i, &call)) lines.push_back(bench::describe(call));
  }
  return lines;
}

void Faults::block(const std::string& name) {
  const std::string path = bench::exe_dir() + name;
  plat::delete_file(path.c_str());
  std::filesystem::create_directory(path);
  blocked_.push_back(name);
}

plat::File hold(const std::string& name) { return sdt_test::hold(bench::exe_dir() + name); }

int run_child(const std::string& program, const std::string& filter, const char* variable,
              const std::string& value) {
  const std::string log = bench::exe_dir() + "child.log";
  std::string command =
      "\"" + program + "\" --gtest_filter=" + filter + " >\"" + log + "\" 2>&1";
#if defined(_WIN32)
  command = "\"" + command + "\"";  // the command processor drops the outer quotes
  _putenv((std::string(variable) + "=" + value).c_str());
  const int status = std::system(command.c_str());
  _putenv((std::string(variable) + "=").c_str());
#else
  setenv(variable, value.c_str(), 1);
  const int status = std::system(command.c_str());
  unsetenv(variable);
#endif
  const bench::Bytes output = bench::read_file(log);
  EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
  plat::delete_file(log.c_str());
  return status;
}

#if !defined(_WIN32)
ProgramCopy::ProgramCopy(std::size_t length, const Names& links)
    : root_(bench::exe_dir() + "long/") {
  namespace fs = std::filesystem;
  const std::string exe(plat::executable_path());
  const std::string folder = "/tests/matrix/";
  // Below the root, a run of characters broken into names of 100 at most.
  std::string padding(length - root_.size() - folder.size(), 'p');
  for (std::size_t i = 100; i + 1 < padding.size(); i += 100) padding[i] = '/';
  const std::string top = root_ + padding;
  fs::create_directories(top + folder);
  for (const std::string& link : links)
    fs::create_directory_symlink(fs::canonical(bench::build_path(link)), top + "/" + link);
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
