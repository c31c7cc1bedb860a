// The benchmarks: each edition's card cycle beside its baseline, each edition's record conversion
// alone, the SDT edition's port scan beside its baseline. After the run, the ratio of each cycle
// to its baseline and the library's time beyond the baseline, against the targets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench/conversions.h"
#include "bench/cycles.h"
#include "bench/reader_process.h"

namespace {

using ridel_bench::EditionCycle;

// Every cycle stays within this ratio of its baseline and adds less than this many microseconds.
constexpr double kRatioTarget = 1.10;
constexpr double kExtraTargetMicroseconds = 200;
// Each benchmark is repeated and its median compared: file writes make single runs noisy.
constexpr int kRepetitions = 15;

benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b) {
  return b->Unit(benchmark::kMicrosecond)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly(true)
      ->MinTime(0.1)
      ->UseRealTime();
}

void register_pair(const ridel_bench::Pair& p) {
  const std::string what = p.what;
  const std::string edition = p.edition;
  EditionCycle* const pair = p.prepare();
  if (!pair) {
    std::printf("%s %s: the edition is not built, skipped\n", p.what, p.edition);
    return;
  }
  timed(benchmark::RegisterBenchmark((what + "/" + edition).c_str(),
                                     [pair](benchmark::State& state) {
                                       pair->set_up();
                                       for (auto _ : state) pair->cycle();
                                     }));
  timed(benchmark::RegisterBenchmark((what + "_baseline/" + edition).c_str(),
                                     [pair](benchmark::State& state) {
                                       pair->set_up();
                                       for (auto _ : state) pair->baseline();
                                     }));
}

// Each edition's record conversion alone.
struct Conversion {
  const char* edition;
  void (*convert)();
};
constexpr Conversion kConversions[] = {{"qdx", &ridel_bench::convert_qdx},
                                       {"sdt", &ridel_bench::convert_sdt},
                                       {"vantrel", &ridel_bench::convert_vantrel}};

void register_conversion(const std::string& edition, void (*convert)()) {
  timed(benchmark::RegisterBenchmark(("conversion/" + edition).c_str(),
                                     [convert](benchmark::State& state) {
                                       for (auto _ : state) convert();
                                     }));
}

// Median times per iteration of one benchmark, in microseconds.
struct Times {
  double wall = 0;
  double cpu = 0;  // the process's own time, user and system: no waiting for the disk or others
};

// One comparison against a baseline, with the cycle targets when `targets` is set.
bool compare(const char* what, const Times& run, const Times& baseline, bool targets) {
  bool met = true;
  for (const auto& [clock, a, b] : {std::tuple{"cpu ", run.cpu, baseline.cpu},
                                    std::tuple{"wall", run.wall, baseline.wall}}) {
    const double ratio = a / b;
    const double extra = a - b;
    std::printf("  %-22s %s %8.1f us  baseline %8.1f us  ratio %.3f  library %7.1f us", what,
                clock, a, b, ratio, extra);
    if (targets) {
      const bool ok = ratio <= kRatioTarget && extra < kExtraTargetMicroseconds;
      std::printf("  %s", ok ? "within target" : "MISSES THE TARGET");
      // The process's own time decides: the wall time also holds the disk's and other
      // processes' delays, which no library causes.
      if (clock[0] == 'c') met = ok;
    }
    std::printf("\n");
    what = "";
  }
  return met;
}

// Prints as the console reporter does and keeps each benchmark's medians.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.error_occurred)
        medians_[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                run.GetAdjustedCPUTime()};
    }
  }

  // The comparisons; false when a cycle misses a target.
  bool summarise() const {
    bool met = true;
    std::printf("\nmedians per call sequence against its baseline without library (targets: "
                "ratio <= %.2f, library < %.0f us):\n",
                kRatioTarget, kExtraTargetMicroseconds);
    for (const ridel_bench::Pair& p : ridel_bench::kPairs) {
      const std::string run = std::string(p.what) + "/" + p.edition;
      const std::string baseline = std::string(p.what) + "_baseline/" + p.edition;
      if (!has(run) || !has(baseline)) continue;
      const bool within = compare(p.label, medians_.at(run), medians_.at(baseline), p.targets);
      met = within && met;
    }
    for (const Conversion& c : kConversions) {
      const std::string name = std::string("conversion/") + c.edition;
      if (has(name))
        std::printf("  %-22s cpu  %8.1f us\n",
                    (std::string(c.edition) + " record conversion").c_str(),
                    medians_.at(name).cpu);
    }
    if (has("reader_process_start/sdt"))
      std::printf("  %-22s wall %8.1f us\n", "reader process start-up",
                  medians_.at("reader_process_start/sdt").wall);
    if (has("reader_process_read/sdt") && has("cycle/sdt"))
      std::printf("  %-22s wall %8.1f us  library alone %8.1f us  the process adds %7.1f us\n",
                  "sdt read via process", medians_.at("reader_process_read/sdt").wall,
                  medians_.at("cycle/sdt").wall,
                  medians_.at("reader_process_read/sdt").wall - medians_.at("cycle/sdt").wall);
    return met;
  }

 private:
  bool has(const std::string& name) const { return medians_.count(name) != 0; }
  std::map<std::string, Times> medians_;
};

// A pair by the names of its benchmarks, as the instruction counts call it.
EditionCycle* pair_named(const std::string& what, const std::string& edition) {
  for (const ridel_bench::Pair& p : ridel_bench::kPairs)
    if (what == p.what && edition == p.edition) return p.prepare();
  return nullptr;
}

}  // namespace

// The calls whose instructions are counted: bench/run.sh has valgrind's callgrind count inside
// this function alone (--toggle-collect), so that loading, set-up and the benchmark library are
// left out. Not inlined, and with C linkage, so that callgrind finds it by this name.
extern "C" __attribute__((noinline)) void ridel_counted_calls(EditionCycle* pair, bool baseline,
                                                              int times) {
  for (int i = 0; i < times; ++i) baseline ? pair->baseline() : pair->cycle();
}

namespace {

// `ridel_bench --count-instructions <what>/<edition>[_baseline] <times>`: runs the calls `times`
// times inside ridel_counted_calls and nothing else.
int count_instructions(const std::string& name, int times) {
  std::string what = name.substr(0, name.find('/'));
  const std::string edition = name.substr(name.find('/') + 1);
  const bool baseline = what.size() > 9 && what.ends_with("_baseline");
  if (baseline) what.resize(what.size() - 9);
  EditionCycle* pair = pair_named(what, edition);
  if (!pair || times <= 0) {
    std::fprintf(stderr, "ridel_bench: nothing to count for %s\n", name.c_str());
    return 2;
  }
  pair->set_up();
  ridel_counted_calls(pair, baseline, times);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--count-instructions")
    return count_instructions(argv[2], std::atoi(argv[3]));

  // Repetitions of the benchmarks run interleaved in random order, so that a cycle and its
  // baseline meet the same load of the machine; a flag given on the command line comes later
  // and wins.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  argc = count;
  argv = args.data();
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  for (const ridel_bench::Pair& p : ridel_bench::kPairs) register_pair(p);
  for (const Conversion& c : kConversions) register_conversion(c.edition, c.convert);
  ridel_bench::register_reader_process();

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const bool met = reporter.summarise();
  benchmark::Shutdown();
  // Timings on a shared machine vary: a missed target is reported, not an error of the run.
  if (!met) std::printf("\nat least one cycle misses its target\n");
  return 0;
}
