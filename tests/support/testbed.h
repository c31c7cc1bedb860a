// The test bed: the one client of the simulated reader that the test suites, the fuzz targets and
// the benchmarks share. It knows where the build put each library and its file name on this
// platform, loads the three simulator libraries by path and scripts them through their control
// API, loads an edition by path and checks that it is gone again after unloading, and holds the
// file and text helpers the programs around it need.
//
// It uses no test framework, so that the fuzz targets and the benchmarks can use it: what it
// cannot do (a library that does not load, a missing entry point, a library that stays loaded)
// goes to the failure handler, which the program chooses (testbed_gtest.h: a test failure).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "platform/host.h"
#include "simulator/simulator.h"

namespace testbed {

using Bytes = std::vector<unsigned char>;

// ---- Failures -----------------------------------------------------------------------------------

// Receives what the test bed could not do. The default prints the message and aborts, which a
// fuzzer keeps as a finding; a handler that returns lets the caller go on with a null library or
// entry point.
using FailureHandler = void (*)(const std::string& message);
void set_failure_handler(FailureHandler handler);  // nullptr: the default
void fail(const std::string& message);

// ---- Where things are ---------------------------------------------------------------------------

// The folder of the running program, ending in a separator: the editions write result files there.
const std::string& output_folder();
// The build folder, ending in a separator: the nearest folder at or above the program's own that
// holds the simulator (every program runs somewhere inside the build); for a program copied out of
// the build, as bench/run.sh does, the build folder it was compiled for.
const std::string& build_folder();
// A path inside the build folder, given with '/' relative to it ("tests/matrix/partial").
std::string build_path(std::string_view relative);

// A library of the build: its folder in the build and its Windows file name. On POSIX the file
// is the shared object that plat::posix_library_name() makes of that name, as the editions' own
// loader maps it ("sdtapi.dll" -> "libsdtapi.so").
struct LibraryFile {
  const char* folder;
  const char* windows_name;
};
inline constexpr LibraryFile kQdxEdition{"qdx", "ridel.dll"};
inline constexpr LibraryFile kSdtEdition{"sdt", "ridel.dll"};
inline constexpr LibraryFile kVantrelEdition{"vantrel", "vantrel.dll"};
// Indexed by SimLibrary: the stand-ins of the driver contract's libraries.
inline constexpr LibraryFile kSimulatorLibraries[SIM_LIB_COUNT] = {
    {"simulator", drv::kUsbDriverFile},
    {"simulator", drv::kSerialDriverFile},
    {"simulator", drv::kDecoderFile}};
// The simulator's USB driver built once more without some entry points (tests/matrix).
inline constexpr LibraryFile kPartialDriver{"tests/matrix/partial", drv::kUsbDriverFile};

// The library's file name on this platform ("ridel.dll", "libridel.so").
std::string file_name(const LibraryFile& library);
// Its full path in the build.
std::string library_path(const LibraryFile& library);
// The full path of a simulator library (SimLibrary).
std::string simulator_path(int library);

// ---- Files and texts ----------------------------------------------------------------------------

// The bytes of a file; empty when it cannot be read.
Bytes read_file(const std::string& path);
// Creates or replaces the file with these bytes; whether all of them were written.
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

// ---- Programs -----------------------------------------------------------------------------------

// Sets an environment variable of this process, which the programs it starts inherit; an empty
// value removes it.
void set_variable(const char* name, const std::string& value);

// Runs `command` through the system's command processor and waits for it: std::system's result.
int run_command(const std::string& command);

// Runs `program` with `args`, each quoted, as run_command does: its exit status, 0 when it
// succeeded.
int run_program(const std::string& program, const std::vector<std::string>& args);

// ---- The simulated reader -----------------------------------------------------------------------

// The three simulator libraries, each loaded by full path from the build (an edition loaded after
// them finds these same modules by name), scripted through their control API, their journals
// merged into one in call order.
class Simulator {
 public:
  static Simulator& instance();

  void load(int library);    // idempotent; resets the library and joins it to the journal
  // Loads another build of `library` in its place (the partial driver), scripted and journaled
  // as the simulator's own; unload() puts it away again.
  void load(int library, const LibraryFile& file);
  void unload(int library);  // drops the test bed's reference (for "library missing" cases)
  bool loaded(int library) const;
  void load_all();

  // Sim_Reset on every loaded library: the reader out of the box; clears the merged journal.
  void reset();
  void set_reader_port(int port);  // on both drivers
  // Scripting applies to both drivers unless `library` names one; GetBmp's to the decoder.
  static constexpr int kDrivers = -1;
  void set_status(int entry, int status, int port = SIM_ANY_PORT, int library = kDrivers);
  void queue_status(int entry, int status, int port = SIM_ANY_PORT, int library = kDrivers);
  void set_record(int record, const Bytes& bytes);  // on both drivers
  void set_reported_length(int record, unsigned length);
  void set_decoder_result(int result);
  // Loads a card profile into every loaded library; false with the message when one refuses it.
  bool load_profile(const std::string& path, std::string* error);

  // An entry point of a loaded simulator library (driver, decoder or control API), as the
  // baselines of the benchmarks call the driver directly; a failure when it is missing.
  void* entry(int library, const char* name) const;
  template <class Fn>
  Fn entry(int library, const char* name) const {
    return reinterpret_cast<Fn>(entry(library, name));
  }

  // Whether calls go into the merged journal (on at first). Off, the simulator calls no sink,
  // so that a measured call sequence pays nothing for the journal.
  void record(bool on);
  const std::vector<SimCall>& journal() const;
  void clear_journal();
  // The journal as lines such as "sdtapi QDX_OpenPort(1001)", "sdtapi SDT_GetSAMStatus(1001, 1)",
  // "stdapi SDT_ANT(3, 7)", "WltRS GetBmp(<path>, 2)".
  std::vector<std::string> journal_lines() const;
  // The lines of the calls of one entry point only.
  std::vector<std::string> journal_lines(int entry) const;
  int count(int entry) const;

 private:
  Simulator() = default;
  template <class Call>
  void each(int library, Call call) const;
  void attach_sink(int library) const;

  plat::Module modules_[SIM_LIB_COUNT] = {};
  bool recording_ = true;
};

// One line of the journal, as journal_lines() writes it.
std::string describe(const SimCall& call);

// ---- Libraries ----------------------------------------------------------------------------------

// A library loaded by path for as long as the object lives; once unloaded it must be gone from
// the process, so that the next copy starts with fresh module-wide state.
class Library {
 public:
  explicit Library(std::string path);  // a failure when it does not load
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& path() const { return path_; }
  // An export, or nullptr when there is none.
  void* symbol(const char* name) const;
  // An export that must be there: a failure when it is missing.
  template <class Fn>
  Fn fn(const char* name) const {
    return reinterpret_cast<Fn>(required(name));
  }

 private:
  void* required(const char* name) const;

  std::string path_;
  plat::Module module_ = nullptr;
};

}  // namespace testbed
