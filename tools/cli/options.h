// The command line of `idcard` and `idcard serve`.
#pragma once

#include <string>

#include "tools/editions/library.h"
#include "tools/service/options.h"

namespace idcard {

struct Options {
  ReaderOptions reader;
  bool serve = false;
  ServeOptions service;
  bool json = false;
};

// The options, or an exit: 0 after --help and --version, 2 with a one-line message for a bad
// command line.
Options parse_options(int argc, char** argv);

// A whole 32-bit decimal number; false for anything else.
bool parse_int(const char* text, int* value);

}  // namespace idcard
