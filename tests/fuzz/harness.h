// The fuzz targets' side of the test bed: the simulated reader scripted from the input, a fresh
// copy of the edition for each input, heap buffers of exactly the size a call is told, and the
// values that are worth trying.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tests/support/testbed.h"

namespace fuzz {

using testbed::Bytes;

// A finding: prints what went wrong and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, long long value = 0);
#define FUZZ_CHECK(condition, value)                                        \
  do {                                                                      \
    if (!(condition)) ::fuzz::fail(__FILE__ ": " #condition, (value));      \
  } while (0)

// Removes every file and folder beside the executable but the executable itself, so that no
// result file of an earlier input changes what this one does.
void clear_output_folder();
void make_folder(const std::string& path);
// Now and then puts a folder where some of the named result files go, so that creating them
// fails.
void block_some(FuzzedDataProvider& in, std::span<const char* const> result_files);

// Scripts the test bed's simulated reader from the input, starting from the reader out of the box:
// its port, records, reported lengths, SAM ID text, decoder result and statuses (persistent or
// queued, per port, per driver library). Returns the port the reader answers on as scripted: the
// one the cycles favour.
int script_simulator(FuzzedDataProvider& in);

// The edition library under test, loaded anew for each input so that a crash reproduces from
// that input alone. The previous copy is unloaded (and checked to be gone) when the next input
// starts, not when an input ends: libFuzzer reads the copy's coverage counters after each input.
// Without libFuzzer the last copy is unloaded and checked at exit as well.
class Edition {
 public:
  // `probe` names an export whose address shows where the copy was mapped.
  Edition(const testbed::LibraryFile& library, const char* probe);
  ~Edition();
  void fresh();
  template <class Fn>
  Fn fn(const char* name) const {
    return copy_->fn<Fn>(name);
  }

 private:
  std::string path_;
  const char* probe_;
  std::unique_ptr<testbed::Library> copy_;
  void* first_address_ = nullptr;  // of the probe export in the first copy
};

// A heap block of exactly `size` bytes (none for a size of 0 or less, which still gives a
// distinct pointer), so that AddressSanitizer reports any byte written past what a call was
// told it may use. Filled with a marker byte.
class Buffer {
 public:
  explicit Buffer(int size);
  ~Buffer() { delete[] data_; }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  char* data() { return data_; }
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(data_); }
  int size() const { return size_; }

 private:
  char* data_;
  int size_;
};

inline constexpr unsigned char kMarker = 0xA5;

// The export `name` of an edition, typed as the public header declares it.
#define FUZZ_EXPORT(edition, name) (edition).fn<decltype(&name)>(#name)

// An export that answers 1 or 0.
inline void check_flag(int result) { FUZZ_CHECK(result == 0 || result == 1, result); }

// Values worth trying, each mostly one of the interesting ones and now and then anything.
int fuzzed_status(FuzzedDataProvider& in);
int fuzzed_port(FuzzedDataProvider& in, int reader_port);
// A buffer size around `exact` (the size a value needs) and the limits: -1, 0, 1, exact - 1,
// exact, exact + 1, `largest`, or anything from -4 to largest + 4.
int fuzzed_size(FuzzedDataProvider& in, int exact, int largest);
// A length the driver reports: 0 to far beyond every buffer.
unsigned fuzzed_length(FuzzedDataProvider& in);
// UCS-2 text of up to `units` characters: digits, blanks, NULs, CJK, signs, characters that GBK
// cannot hold, surrogates, or any unit; the rest padded with blanks or NULs.
void put_fuzzed_units(FuzzedDataProvider& in, Bytes& record, int offset, int units);
// An Identity record: the sample card's layout with fuzzed fields, or any bytes of any length.
Bytes fuzzed_identity(FuzzedDataProvider& in);

// A getter and the longest value it may hand out, in bytes.
struct GetterInfo {
  const char* name;
  int largest;
};

// ---- Card cycles --------------------------------------------------------------------------------

// What each edition's cycle harness shares: its exports, the input, and the port the scripted
// reader answers on. An edition's cycle derives from it and adds one member function per step.
template <class EditionExports>
class CycleBase {
 public:
  using Exports = EditionExports;
  CycleBase(const Exports& x, FuzzedDataProvider& in, int reader_port)
      : x_(x), in_(in), reader_port_(reader_port) {}

 protected:
  // A port to open: mostly the reader's, now and then any other worth trying.
  int port() { return fuzzed_port(in_, reader_port_); }

  const Exports& x_;
  FuzzedDataProvider& in_;
  int reader_port_;
};

template <class Cycle>
using Step = void (Cycle::*)();

// An edition's cycle as data: the result files it writes (some of which an input may block), the
// steps that every input runs in this order, and the steps that the input then chains.
template <class Cycle>
struct CyclePlan {
  std::span<const char* const> result_files;
  std::span<const Step<Cycle>> sequence;
  std::span<const Step<Cycle>> chosen;
};

// The most steps that an input chains after the sequence.
inline constexpr int kChosenSteps = 24;

// Starts an input: an empty output folder, the simulated reader scripted from the input, now and
// then a folder in the way of some result files, then a fresh copy of the edition. Returns the
// port the reader answers on.
int start_input(FuzzedDataProvider& in, Edition& edition,
                std::span<const char* const> result_files);

// One input of a cycle target: started as above, the edition's exports looked up, the sequence
// run, then up to kChosenSteps steps of `chosen` in the order the input picks while it lasts.
template <class Cycle>
int run_cycle(Edition& edition, const std::uint8_t* data, std::size_t size,
              const CyclePlan<Cycle>& plan) {
  FuzzedDataProvider in(data, size);
  const int reader_port = start_input(in, edition, plan.result_files);
  const typename Cycle::Exports exports(edition);
  Cycle cycle(exports, in, reader_port);
  for (const Step<Cycle> step : plan.sequence) (cycle.*step)();
  const int last = static_cast<int>(plan.chosen.size()) - 1;
  for (int i = 0; i < kChosenSteps && in.remaining_bytes() > 0; ++i)
    (cycle.*plan.chosen[static_cast<std::size_t>(in.ConsumeIntegralInRange(0, last))])();
  return 0;
}

}  // namespace fuzz
