// One card cycle per edition against the zero-latency simulator, and beside each a baseline: the
// same driver and decoder calls, made directly through the simulator's entry points, and the same
// bytes written to the same result files, with no library in between.
//
// What a baseline includes: every driver and decoder call of the cycle with the same arguments,
// creating and writing every result file the edition writes (raw records from the driver's
// buffers, the edition's text files as bytes worked out once beforehand). What it leaves out, and
// so what the difference measures: the library's own work, that is converting the record,
// formatting the text files, building paths, looking up strings, copying files instead of
// writing them, reading the decoded bitmap back, the field store and the getters.
#pragma once

namespace ridel_bench {

// A cycle and its baseline. kPairs below prepares one per edition: runs the cycle until its
// result files are steady (the SDT edition's text file shows the appended address of the cycle
// before), takes the edition's text files as the baseline's bytes and checks that the baseline
// makes the cycle's driver calls and writes its bytes; null when the edition was not built.
class EditionCycle {
 public:
  virtual ~EditionCycle() = default;
  // The simulator as the cycle expects it: out of the box, the reader on port 1001.
  virtual void set_up() const;
  virtual void cycle() = 0;
  virtual void baseline() = 0;
};

// One cycle and its baseline as the benchmarks name, register and summarise them.
struct Pair {
  const char* what;     // "cycle" or "port_scan": the benchmarks are <what>/<edition> and
  const char* edition;  // <what>_baseline/<edition>
  const char* label;    // in the summary
  bool targets;         // held to the cycle targets in the summary
  EditionCycle* (*prepare)();  // the ready pair, built on first use; null when not built
};

// Each edition's card cycle, then the SDT edition's OpenComm with the reader on the last USB
// port, 1016, so that fifteen opens fail first (its baseline makes the same seventeen driver
// calls).
extern const Pair kPairs[4];

}  // namespace ridel_bench
