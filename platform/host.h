// Conveniences for the programs around the libraries (the host program, the simulator, tests and
// benchmarks), which may allocate: texts as owned strings. The libraries themselves never use
// this header.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace plat {

// Converts ANSI text (GBK on POSIX) to UTF-8, for printing what the libraries hand out. A byte
// sequence that the code page cannot read becomes U+FFFD and the next character is kept.
std::string ansi_to_utf8(std::string_view ansi);

// The ANSI code page the libraries' text is in: the system's (GetACP) on Windows, always 936 (GBK)
// on POSIX.
unsigned ansi_code_page();

// The folder of the process's executable, ending in a separator; empty when unknown.
std::string executable_folder();

}  // namespace plat
