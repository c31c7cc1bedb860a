// A read through an edition: its descriptor's call sequence, run against the loaded library.
#pragma once

#include <functional>
#include <string>

#include "tools/card/card.h"
#include "tools/editions/library.h"

namespace idcard {

// Told before each call of the edition: its step (open, select, read, fields, close) and the call
// with its arguments ("ReadBaseInfo(1)").
using CallSeen = std::function<void(const char* step, const std::string& call)>;

// One full read: open, authenticate or select, the edition's read, its getters, close. The port is
// closed again after a failure past the open.
ReadResult read_card(const Library& library, const ReaderOptions& o, const CallSeen& seen = {});

// Opens the port and closes it again: whether a reader answers, without reading a card.
ReadResult check_reader(const Library& library, const ReaderOptions& o, const CallSeen& seen = {});

// The file of the program's folder that a result file's name (which may hold kSamNumber) names:
// its full path, or empty when the read left none.
std::string result_file(const char* pattern);

// The bytes of a file (a result file: at most 1 MiB), empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace idcard
