// A read through an edition: its descriptor's call sequence, run against the loaded library.
#pragma once

#include <string>

#include "tools/card/card.h"
#include "tools/editions/library.h"

namespace idcard {

// One full read: open, authenticate or select, the edition's read, its getters, close. The port is
// closed again after a failure past the open.
ReadResult read_card(const Library& library, const ReaderOptions& o);

// Opens the port and closes it again: whether a reader answers, without reading a card.
ReadResult check_reader(const Library& library, const ReaderOptions& o);

// The bytes of a file (a result file: at most 1 MiB), empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace idcard
