// The bad-input matrix: one table per edition of export x bad input x expected result, and what
// the three tables share: caller buffers between guard bytes, a snapshot of the result files of
// an earlier read, and the faults a row can set up (a missing driver or decoder, a driver that
// lacks entry points, a result path taken by a folder, a result file held by another handle).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/testbed_gtest.h"

namespace matrix {

using Names = std::vector<std::string>;

// A caller's buffer of `size` bytes, prefilled, between guard bytes that must stay as they are.
class Guarded {
 public:
  static constexpr unsigned char kFill = 0xCC;
  explicit Guarded(std::size_t size, unsigned char fill = kFill);
  unsigned char* bytes() { return storage_.data() + kGuardBytes; }
  char* text() { return reinterpret_cast<char*>(bytes()); }
  testbed::Bytes content() const;
  // Success when no byte outside the buffer was written.
  ::testing::AssertionResult intact() const;

 private:
  static constexpr std::size_t kGuardBytes = 64;
  static constexpr unsigned char kGuard = 0xA5;
  std::size_t size_;
  testbed::Bytes storage_;
};

// Files beside the test executable as they are now; a missing one is remembered as missing.
class Snapshot {
 public:
  explicit Snapshot(const Names& names);
  // Each named file is as it was (present with the same bytes, or still absent).
  ::testing::AssertionResult kept(const Names& names) const;
  // Each named file exists and differs from what it was.
  ::testing::AssertionResult renewed(const Names& names) const;

 private:
  std::map<std::string, std::optional<testbed::Bytes>> files_;
};

// What a row takes away before the edition loads.
enum class Missing {
  Nothing,
  Driver,   // no sdtapi to be found
  Decoder,  // no WltRS to be found
  Entries,  // an sdtapi without QDX_ANT and without ReadNewAppMsg under both prefixes
};

// The faults of one case, undone when it goes (after the fixture has unloaded the edition; the
// next case's set-up loads the test bed's simulator libraries again).
class Faults {
 public:
  Faults() = default;
  Faults(const Faults&) = delete;
  Faults& operator=(const Faults&) = delete;
  ~Faults();

  void apply(Missing missing);
  // The partial driver of Missing::Entries, loaded by the test bed in the place of the
  // simulator's sdtapi: a status scripted on it, and its calls as journal lines.
  void script_partial(int entry, int port, int status) const;
  Names partial_journal() const;

  // A folder in the place of a result file, so that the file cannot be created.
  void block(const std::string& name);

 private:
  bool partial_ = false;
  Names blocked_;
};

// A result file held open by another handle, without sharing, until the handle goes.
plat::File hold(const std::string& name);

// Runs `program` (this test program or a copy of it) with the one case `filter` and `variable`
// set to `value`: its exit status, 0 when that case passed. Its output is reported otherwise.
int run_child(const std::string& program, const std::string& filter, const char* variable,
              const std::string& value);

#if !defined(_WIN32)
// A copy of this program in a new folder of `length` characters (its last separator included)
// below the test folder, with links to the build folders `links` placed as in the build, so that
// the copy finds the libraries as this program does. Removed again when the object goes.
class ProgramCopy {
 public:
  ProgramCopy(std::size_t length, const Names& links);
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;
  ~ProgramCopy();
  const std::string& path() const { return path_; }

 private:
  std::string root_;
  std::string path_;
};
#endif

// One row of an edition's table. `call` sets up what the row still needs once the edition is
// loaded (a session, a held or blocked file, a scripted length) and calls the export; its result
// must be `expected`. Afterwards the result files of the earlier read named in `kept` must be
// as they were, and those in `renewed` rewritten.
template <class Fixture>
struct Row {
  using Call = std::function<int(Fixture&)>;
  Row(std::string name, Missing missing, Call call, int expected, Names kept = {},
      Names renewed = {})
      : name(std::move(name)), missing(missing), call(std::move(call)), expected(expected),
        kept(std::move(kept)), renewed(std::move(renewed)) {}

  std::string name;
  Missing missing;
  Call call;
  int expected;
  Names kept;
  Names renewed;
};

template <class Fixture>
void PrintTo(const Row<Fixture>& row, std::ostream* os) {
  *os << row.name;
}

// The table test of an edition: `Base` is the edition's own fixture, `Self` the table's fixture,
// which provides earlier_read() (a successful read leaving every result file of `files`) and
// the static rows().
template <class Self, class Base>
class Table : public Base, public ::testing::WithParamInterface<Row<Self>> {
 protected:
  void run(const Names& files) {
    const Row<Self>& row = this->GetParam();
    Self& self = static_cast<Self&>(*this);
    self.earlier_read();
    if (this->HasFatalFailure()) return;
    const Snapshot before(files);
    // The row's edition starts afresh, with the simulator's sample card.
    this->unload_edition();
    this->sim().reset();
    faults.apply(row.missing);
    EXPECT_EQ(row.call(self), row.expected);
    EXPECT_TRUE(before.kept(row.kept));
    EXPECT_TRUE(before.renewed(row.renewed));
  }

  Faults faults;
};

template <class Fixture>
std::string row_name(const ::testing::TestParamInfo<Row<Fixture>>& info) {
  return info.param.name;
}

}  // namespace matrix
