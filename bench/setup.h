// What the benchmarks stand on: the zero-latency simulated reader loaded by path from
// <build>/simulator, an edition loaded by path, the result files beside the benchmark program,
// and the check that a baseline does the same driver work and writes the same bytes as the
// edition it is measured against.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "driver/sdtapi.h"
#include "platform/host.h"
#include "simulator/simulator.h"

namespace ridel_bench {

using Bytes = std::vector<unsigned char>;

// Prints the reason and ends the program: a benchmark that cannot run as designed measures
// nothing worth printing.
[[noreturn]] void give_up(const std::string& why);

// A path in the build folder, given relative to it ("qdx/libridel.so").
std::string build_path(const char* relative);
// The folder of the benchmark program, ending in a separator: the editions write there.
const std::string& output_folder();

Bytes read_file(const std::string& path);
// Creates or replaces the file and writes the bytes, as an application would without a library.
// Gives up when the file cannot be written.
void write_file(const std::string& path, const void* data, std::size_t size);

// The three simulator libraries, loaded once.
class Simulator {
 public:
  static Simulator& instance();

  // Out of the box: a reader on port 1001 with the sample card.
  void reset();
  void set_reader_port(int port);

  // An entry point of the USB driver (sdtapi) or of the decoder.
  template <class Fn>
  Fn driver(const char* name) const {
    return reinterpret_cast<Fn>(entry(SIM_LIB_SDTAPI, name));
  }
  drv::GetBmpFn get_bmp() const {
    return reinterpret_cast<drv::GetBmpFn>(entry(SIM_LIB_WLTRS, drv::kGetBmpName));
  }

  // Every call that reaches the simulator between the two, in call order.
  void start_recording();
  std::vector<SimCall> stop_recording();

 private:
  Simulator();
  void* entry(int library, const char* name) const;
  plat::Module modules_[SIM_LIB_COUNT] = {};
};

// An edition library, loaded once by path; not loaded when it was not built.
class Edition {
 public:
  explicit Edition(const char* relative_path);
  bool loaded() const { return module_ != nullptr; }
  template <class Fn>
  Fn fn(const char* name) const {
    void* p = plat::entry_point(module_, name);
    if (!p) give_up(std::string("the edition lacks ") + name);
    return reinterpret_cast<Fn>(p);
  }

 private:
  plat::Module module_;
};

// Runs `cycle` and then `baseline` once each, each after `set_up` and with none of `files` in the
// output folder, and gives up unless both made the same driver and decoder calls with the same
// arguments and results and left the same files with the same bytes.
void check_baseline(const char* name, const std::vector<std::string>& files,
                    const std::function<void()>& set_up, const std::function<void()>& cycle,
                    const std::function<void()>& baseline);

// The result files' full paths in the output folder.
std::vector<std::string> in_output_folder(const std::vector<std::string>& names);

}  // namespace ridel_bench
