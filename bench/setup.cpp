#include "bench/setup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ridel_bench {
namespace {

const char* const kSimulatorFiles[SIM_LIB_COUNT] = {"simulator/libsdtapi.so",
                                                    "simulator/libstdapi.so",
                                                    "simulator/libwltrs.so"};

std::vector<SimCall>& recorded() {
  static std::vector<SimCall> calls;
  return calls;
}

void WINAPI record(const SimCall* call) { recorded().push_back(*call); }

bool same_call(const SimCall& a, const SimCall& b) {
  return a.library == b.library && a.prefix == b.prefix && a.entry == b.entry &&
         a.port == b.port && a.value == b.value && a.result == b.result &&
         std::strcmp(a.path, b.path) == 0;
}

std::string describe(const SimCall& c) {
  return "library " + std::to_string(c.library) + " entry " + std::to_string(c.entry) +
         " port " + std::to_string(c.port) + " value " + std::to_string(c.value) + " result " +
         std::to_string(c.result) + (c.path[0] ? std::string(" path ") + c.path : "");
}

struct Outcome {
  std::vector<SimCall> calls;
  std::vector<Bytes> files;
  std::vector<bool> present;
};

Outcome run_once(const std::vector<std::string>& files, const std::function<void()>& set_up,
                 const std::function<void()>& work) {
  Simulator& sim = Simulator::instance();
  set_up();
  for (const std::string& f : files) plat::delete_file(f.c_str());
  sim.start_recording();
  work();
  Outcome out;
  out.calls = sim.stop_recording();
  for (const std::string& f : files) {
    out.present.push_back(plat::file_exists(f.c_str()));
    out.files.push_back(read_file(f));
  }
  return out;
}

}  // namespace

void give_up(const std::string& why) {
  std::fprintf(stderr, "ridel_bench: %s\n", why.c_str());
  std::exit(2);
}

std::string build_path(const char* relative) {
  return std::string(RIDEL_BUILD_DIR) + plat::kPathSeparator + relative;
}

const std::string& output_folder() {
  static const std::string folder = plat::executable_folder();
  return folder;
}

Bytes read_file(const std::string& path) {
  plat::File file = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!file.is_open()) return {};
  const std::int64_t size = file.size();
  Bytes bytes(size > 0 ? static_cast<std::size_t>(size) : 0);
  bytes.resize(file.read(bytes.data(), bytes.size()));
  return bytes;
}

// The leanest way there is: one open that creates or empties the file, one write, one close.
void write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) give_up("the baseline cannot write " + path);
  if (size) std::fwrite(data, size, 1, file);
  std::fclose(file);
}

std::vector<std::string> in_output_folder(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const std::string& n : names) paths.push_back(output_folder() + n);
  return paths;
}

// ---- Simulator ----------------------------------------------------------------------------------

Simulator& Simulator::instance() {
  static Simulator sim;
  return sim;
}

Simulator::Simulator() {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    modules_[lib] = plat::load_library(build_path(kSimulatorFiles[lib]).c_str());
    if (!modules_[lib]) give_up(std::string("cannot load ") + kSimulatorFiles[lib]);
  }
}

void* Simulator::entry(int library, const char* name) const {
  void* p = plat::entry_point(modules_[library], name);
  if (!p) give_up(std::string("the simulator lacks ") + name);
  return p;
}

void Simulator::reset() {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib)
    reinterpret_cast<void(WINAPI*)()>(entry(lib, "Sim_Reset"))();
}

void Simulator::set_reader_port(int port) {
  for (int lib : {SIM_LIB_SDTAPI, SIM_LIB_STDAPI})
    reinterpret_cast<void(WINAPI*)(int)>(entry(lib, "Sim_SetReaderPort"))(port);
}

void Simulator::start_recording() {
  recorded().clear();
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib)
    reinterpret_cast<void(WINAPI*)(SimSink)>(entry(lib, "Sim_SetJournalSink"))(&record);
}

std::vector<SimCall> Simulator::stop_recording() {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib)
    reinterpret_cast<void(WINAPI*)(SimSink)>(entry(lib, "Sim_SetJournalSink"))(nullptr);
  return std::move(recorded());
}

// ---- Edition ------------------------------------------------------------------------------------

// The simulator comes first: an edition that binds the driver by name when it is loaded finds
// the simulator's modules already there.
Edition::Edition(const char* relative_path)
    : module_((Simulator::instance(), plat::load_library(build_path(relative_path).c_str()))) {}

// ---- The baseline check -------------------------------------------------------------------------

void check_baseline(const char* name, const std::vector<std::string>& files,
                    const std::function<void()>& set_up, const std::function<void()>& cycle,
                    const std::function<void()>& baseline) {
  const Outcome expected = run_once(files, set_up, cycle);
  const Outcome got = run_once(files, set_up, baseline);
  const std::string who = std::string("the baseline of ") + name + " ";
  const std::size_t n = std::min(expected.calls.size(), got.calls.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!same_call(expected.calls[i], got.calls[i]))
      give_up(who + "call " + std::to_string(i) + " is " + describe(got.calls[i]) +
              ", the edition's " + describe(expected.calls[i]));
  }
  if (expected.calls.size() != got.calls.size())
    give_up(who + "makes " + std::to_string(got.calls.size()) + " driver calls, the edition " +
            std::to_string(expected.calls.size()));
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (expected.present[i] != got.present[i] || expected.files[i] != got.files[i])
      give_up(who + "leaves other bytes in " + files[i] + " than the edition");
  }
}

}  // namespace ridel_bench
