// Where and how the result files are written.
#pragma once

#include <cstddef>
#include <string_view>

#include "sdt/state.h"

namespace sdt {

// The folder of the host application's executable, worked out afresh for each read; empty when
// it is unknown or does not fit into kExecutablePathBytes (cutting the path there would send the
// files into a wrong folder).
ResultPath output_folder();

// Creates the file for exclusive access, replacing one of that name, and writes the bytes.
// False when it cannot be created or not all bytes could be written; a file left incomplete is
// removed again, so that no truncated result file stays behind.
bool write_file(const ResultPath& path, const void* data, std::size_t size);
inline bool write_file(const ResultPath& path, std::string_view text) {
  return write_file(path, text.data(), text.size());
}

}  // namespace sdt
