// The test bench: the simulated reader, a fresh copy of an edition for each case, and the result
// files beside the test executable.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/record.h"
#include "platform/host.h"
#include "simulator/simulator.h"

namespace bench {

using Bytes = std::vector<unsigned char>;

// Folder of the test executable, ending in a separator: the editions write result files there.
const std::string& exe_dir();
// A path inside the build folder, given with '/' relative to it ("qdx/ridel.dll").
std::string build_path(std::string_view relative);

// Bytes of a file, empty when it cannot be read; whether it exists.
Bytes read_file(const std::string& path);
bool write_file(const std::string& path, const Bytes& bytes);
// Whether a file has the hidden attribute (Windows); always false elsewhere, where there is none.
bool file_hidden(const std::string& path);
// Text from bytes, for comparing GBK text written as byte arrays: text({0xBA, 0xBA}).
std::string text(std::initializer_list<unsigned char> bytes);
Bytes bytes(std::string_view text);

// UCS-2 little-endian bytes of a text given as UTF-16 (u"...").
Bytes ucs2(std::u16string_view text);

// An Identity record built field by field: each value is written at its field's offset and padded
// with blanks (U+0020) to the field's width, as on a card. Unset fields are blanks too.
class IdentityRecord {
 public:
  IdentityRecord();
  IdentityRecord& set(rec::Field field, std::u16string_view value);
  // Writes raw UCS-2 units at the field's offset without padding (NULs, surrogates, ...).
  IdentityRecord& set_raw(rec::Field field, std::u16string_view units);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// The three simulator libraries, loaded once by full path from <build>/simulator and merged into
// one journal in call order.
class Simulator {
 public:
  static Simulator& instance();

  void load(int library);    // idempotent
  void unload(int library);  // drops the bench's reference (for "library missing" cases)
  bool loaded(int library) const;
  void load_all();

  // Sim_Reset on every loaded library; clears the merged journal.
  void reset();
  void set_reader_port(int port);
  // Scripting applies to both drivers unless `library` names one.
  void set_status(int entry, int status, int port = SIM_ANY_PORT, int library = kDrivers);
  void queue_status(int entry, int status, int port = SIM_ANY_PORT, int library = kDrivers);
  void set_record(int record, const Bytes& bytes);
  void set_reported_length(int record, unsigned length);
  void set_decoder_result(int result);
  bool load_profile(const std::string& path, std::string* error);

  const std::vector<SimCall>& journal() const;
  void clear_journal();
  // The journal as lines such as "sdtapi QDX_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 1)",
  // "stdapi SDT_ANT(3, 7)", "WltRS GetBmp(<path>, 2)".
  std::vector<std::string> journal_lines() const;
  // The lines of the calls of one entry point only.
  std::vector<std::string> journal_lines(int entry) const;
  int count(int entry) const;

  static constexpr int kDrivers = -1;

 private:
  Simulator() = default;
  template <class Fn>
  Fn fn(int library, const char* name) const;
  template <class Call>
  void each(int library, Call call) const;
  plat::Module modules_[SIM_LIB_COUNT] = {};
};

// One line of the journal, as journal_lines() writes it.
std::string describe(const SimCall& call);

// An edition library loaded for one case, and unloaded (checked to be gone) at its end.
class Library {
 public:
  explicit Library(std::string path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool loaded() const { return module_ != nullptr; }
  void* symbol(const char* name) const;
  template <class Fn>
  Fn fn(const char* name) const {
    void* p = symbol(name);
    EXPECT_NE(p, nullptr) << "export " << name << " missing";
    return reinterpret_cast<Fn>(p);
  }

 private:
  std::string path_;
  plat::Module module_ = nullptr;
};

// Base of the edition suites: the simulator loaded and reset, the edition's result files removed
// before each case, the edition loaded on first use.
class EditionTest : public ::testing::Test {
 protected:
  EditionTest(std::string library_path, std::vector<std::string> result_files);
  void SetUp() override;
  void TearDown() override;

  Simulator& sim() { return Simulator::instance(); }
  Library& edition();
  void unload_edition();

  std::string out(const std::string& name) const { return exe_dir() + name; }
  bool exists(const std::string& name) const;
  Bytes read(const std::string& name) const { return read_file(out(name)); }
  void remove_result_files() const;

 private:
  std::string library_path_;
  std::vector<std::string> result_files_;
  std::unique_ptr<Library> edition_;
};

}  // namespace bench
