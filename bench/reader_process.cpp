// The reader process as the service keeps it: its start-up (copying the reader program and the
// edition into a private folder, starting it, loading the edition and the driver) and one read
// through it, over the pipes, of the SDT edition against the zero-latency simulated reader.
#include "bench/reader_process.h"

#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/setup.h"
#include "tools/reader/messages.h"
#include "tools/reader/reader_process.h"

namespace ridel_bench {

namespace {

constexpr std::chrono::seconds kDeadline{10};

idcard::ReaderOptions sdt_options() {
  idcard::ReaderOptions o;
  idcard::set_edition(o, "sdt");
  o.root = testbed::build_path("");
  o.host = testbed::build_path("tools/") + idcard::reader::kHostProgram;
  return o;
}

// Gives up unless the reader process answered (and, for a read, read the card).
void require(const idcard::ReaderAnswer& a, const char* what, bool card) {
  if (a.fault != idcard::ReaderFault::None) give_up(std::string("reader process ") + what + ": " + a.message);
  if (card && !a.result.ok) give_up("reader process read: " + a.result.error.line());
}

}  // namespace

void register_reader_process() {
  benchmark::RegisterBenchmark("reader_process_start/sdt", [](benchmark::State& state) {
    idcard::ReaderProcess process(sdt_options());
    for (auto _ : state) {
      require(process.start(kDeadline), "start", false);
      process.stop();
    }
  })->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
  benchmark::RegisterBenchmark("reader_process_read/sdt", [](benchmark::State& state) {
    idcard::ReaderProcess process(sdt_options());
    require(process.start(kDeadline), "start", false);
    for (auto _ : state) require(process.read(kDeadline), "read", true);
  })->Unit(benchmark::kMicrosecond)->Repetitions(15)->ReportAggregatesOnly(true)->MinTime(0.1)->UseRealTime();
}

}  // namespace ridel_bench
