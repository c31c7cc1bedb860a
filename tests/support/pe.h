// Reads what the tests check of a Windows PE file: machine, export directory (library name,
// ordinals and names), imported libraries with their function names, and resource types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench::pe {

inline constexpr unsigned kMachineI386 = 0x14C;
inline constexpr unsigned kMachineAmd64 = 0x8664;
inline constexpr unsigned kResourceString = 6;    // RT_STRING
inline constexpr unsigned kResourceVersion = 16;  // RT_VERSION

struct Export {
  unsigned ordinal;
  std::string name;  // empty for an export by ordinal only
  bool operator==(const Export&) const = default;
};

struct Image {
  bool ok = false;  // false when the file is missing or not a PE image
  unsigned machine = 0;
  std::size_t file_size = 0;
  std::uint32_t entry_point = 0;  // relative address of the entry point; 0 when there is none
  // Versions of the optional header, as {major, minor}.
  std::pair<unsigned, unsigned> os_version{}, subsystem_version{};
  std::string export_name;  // the library name of the export directory
  std::vector<Export> exports;  // in ordinal order
  // Imported library (as written, e.g. "KERNEL32.dll") -> imported names ("#N" for ordinals).
  std::map<std::string, std::vector<std::string>> imports;
  std::vector<unsigned> resource_types;  // ids of the resource directory's top level
};

Image read(const std::string& path);

}  // namespace bench::pe
