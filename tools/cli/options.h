// The command line of `idcard`, `idcard serve` and `idcard doctor`.
#pragma once

#include <string>

#include "tools/doctor/doctor.h"
#include "tools/editions/library.h"
#include "tools/service/options.h"

namespace idcard {

struct Options {
  ReaderOptions reader;
  bool serve = false;
  ServeOptions service;
  bool json = false;
  bool run_doctor = false;
  doctor::Options doctor;
};

// The options, or an exit: 0 after --help and --version, 2 with a one-line message for a bad
// command line.
Options parse_options(int argc, char** argv);

// A whole 32-bit decimal number; false for anything else.
bool parse_int(const char* text, int* value);

}  // namespace idcard
