// `idcard` without a command: one read, printed as lines or as the card's JSON document.
#pragma once

#include "tools/cli/options.h"

namespace idcard {

// Reads the card and prints it; the exit status (1 for a failed read, 2 for a library that
// cannot be used).
int read_command(const Options& o);

}  // namespace idcard
