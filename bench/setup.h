// What the benchmarks stand on: the test bed's zero-latency simulated reader and editions loaded
// by path, the result files beside the benchmark program, and the check that a baseline does the
// same driver work and writes the same bytes as the edition it is measured against.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "driver/binding.h"
#include "driver/sdtapi.h"
#include "tests/support/testbed.h"

namespace ridel_bench {

using testbed::Bytes;

// Prints the reason and ends the program: a benchmark that cannot run as designed measures
// nothing worth printing.
[[noreturn]] void give_up(const std::string& why);

// The test bed's simulator with its three libraries loaded, keeping no journal (the measured
// calls pay nothing for it); what the test bed cannot do gives up.
testbed::Simulator& simulator();

// The USB driver's (sdtapi) entry points under one prefix and the decoder's, as the baselines
// call them directly.
drv::EntryPoints simulated_driver(drv::Prefix prefix);

// An edition, loaded by path after the simulator and kept until the program ends; null when it
// was not built.
const testbed::Library* edition(const testbed::LibraryFile& library);

// Creates or replaces the file and writes the bytes, as an application would without a library.
// Gives up when the file cannot be written.
void write_file(const std::string& path, const void* data, std::size_t size);

// Runs `cycle` and then `baseline` once each, each after `set_up` and with none of `files` in the
// output folder, and gives up unless both made the same driver and decoder calls with the same
// arguments and results and left the same files with the same bytes.
void check_baseline(const char* name, const std::vector<std::string>& files,
                    const std::function<void()>& set_up, const std::function<void()>& cycle,
                    const std::function<void()>& baseline);

}  // namespace ridel_bench
