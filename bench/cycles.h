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

// A cycle and its baseline. The factories below build one per edition, run the cycle until its
// result files are steady (the SDT edition's text file shows the appended address of the cycle
// before), take the edition's text files as the baseline's bytes and check that the baseline
// makes the cycle's driver calls and writes its bytes; null when the edition was not built.
class EditionCycle {
 public:
  virtual ~EditionCycle() = default;
  // The simulator as the cycle expects it: out of the box, the reader on port 1001.
  virtual void set_up() const;
  virtual void cycle() = 0;
  virtual void baseline() = 0;
};

EditionCycle* qdx_cycle();
EditionCycle* sdt_cycle();
EditionCycle* vantrel_cycle();
// The SDT edition's OpenComm with the reader on the last USB port, 1016, so that fifteen opens
// fail first; its baseline makes the same seventeen driver calls.
EditionCycle* sdt_port_scan();

}  // namespace ridel_bench
