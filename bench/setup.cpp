#include "bench/setup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ridel_bench {
namespace {

bool same_call(const SimCall& a, const SimCall& b) {
  return a.library == b.library && a.prefix == b.prefix && a.entry == b.entry &&
         a.port == b.port && a.value == b.value && a.result == b.result &&
         std::strcmp(a.path, b.path) == 0;
}

std::string describe(const SimCall& c) {
  return testbed::describe(c) + " = " + std::to_string(c.result);
}

struct Outcome {
  std::vector<SimCall> calls;
  std::vector<Bytes> files;
  std::vector<bool> present;
};

Outcome run_once(const std::vector<std::string>& files, const std::function<void()>& set_up,
                 const std::function<void()>& work) {
  testbed::Simulator& sim = simulator();
  set_up();
  for (const std::string& f : files) plat::delete_file(f.c_str());
  sim.clear_journal();
  sim.record(true);
  work();
  sim.record(false);
  Outcome out;
  out.calls = sim.journal();
  for (const std::string& f : files) {
    out.present.push_back(plat::file_exists(f.c_str()));
    out.files.push_back(testbed::read_file(f));
  }
  return out;
}

}  // namespace

void give_up(const std::string& why) {
  std::fprintf(stderr, "ridel_bench: %s\n", why.c_str());
  std::exit(2);
}

// The leanest way there is: one open that creates or empties the file, one write, one close.
void write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) give_up("the baseline cannot write " + path);
  if (size) std::fwrite(data, size, 1, file);
  std::fclose(file);
}

testbed::Simulator& simulator() {
  static testbed::Simulator& sim = []() -> testbed::Simulator& {
    testbed::set_failure_handler([](const std::string& message) { give_up(message); });
    testbed::Simulator& s = testbed::Simulator::instance();
    s.load_all();
    s.record(false);
    return s;
  }();
  return sim;
}

drv::EntryPoints simulated_driver(drv::Prefix prefix) {
  drv::EntryPoints e;
  drv::bind_driver(e, prefix,
                   [](const char* name) { return simulator().entry(SIM_LIB_SDTAPI, name); });
  drv::bind_decoder(e, [](const char* name) { return simulator().entry(SIM_LIB_WLTRS, name); });
  return e;
}

// The simulator comes first: an edition that binds the driver by name when it is loaded finds
// the simulator's modules already there. Never unloaded: the pairs use it until the end.
const testbed::Library* edition(const testbed::LibraryFile& library) {
  simulator();
  const std::string path = testbed::library_path(library);
  if (!plat::file_exists(path.c_str())) return nullptr;
  return new testbed::Library(path);
}

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
