// Where and how the result files are written.
#pragma once

#include <cstddef>
#include <string_view>

#include "sdt/state.h"

namespace sdt {

// The output folder for an executable's path: its folder, ending in a separator. Empty when the
// path has no folder, or when the folder would not fit into kExecutablePathBytes: cutting the
// path there would send the files into a wrong folder.
std::string_view output_folder_of(std::string_view executable_path);

// The folder of the host application's executable, worked out afresh for each read; empty when
// there is none to write into.
ResultPath output_folder();

// Creates the file for exclusive access, replacing one of that name, and writes the bytes.
// False when it cannot be created or not all bytes could be written; a file left incomplete is
// removed again, so that no truncated result file stays behind.
bool write_file(const ResultPath& path, const void* data, std::size_t size);
inline bool write_file(const ResultPath& path, std::string_view text) {
  return write_file(path, text.data(), text.size());
}

}  // namespace sdt
