// Reads what the host program and the audit need of a library or program file without loading it:
// a Windows PE image (machine, export directory, imports, resource types) or an ELF file (class,
// machine, the dynamic symbols it defines and those it needs). Files come from any folder, so
// every offset and count is bounded: a truncated or garbled file gives a partial image (or none),
// never a read outside its bytes nor a loop that its counts make endless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace idcard::image {

enum class Format { None, Pe, Elf };

// PE machine values.
inline constexpr unsigned kMachineI386 = 0x14C;
inline constexpr unsigned kMachineAmd64 = 0x8664;
inline constexpr unsigned kMachineArm64 = 0xAA64;
// ELF machine values.
inline constexpr unsigned kElfI386 = 3;
inline constexpr unsigned kElfArm = 40;
inline constexpr unsigned kElfX86_64 = 62;
inline constexpr unsigned kElfAarch64 = 183;

inline constexpr unsigned kResourceString = 6;    // RT_STRING
inline constexpr unsigned kResourceVersion = 16;  // RT_VERSION

// Files beyond this size are read up to it only: libraries are far smaller.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;

struct Export {
  unsigned ordinal;  // 0 for ELF symbols
  std::string name;  // empty for an export by ordinal only
  bool operator==(const Export&) const = default;
};

struct Image {
  bool ok = false;  // a PE or ELF file whose headers could be read
  Format format = Format::None;
  unsigned machine = 0;
  unsigned bits = 0;  // 32 or 64
  bool truncated = false;  // a section or table reaches beyond the end of the file
  std::size_t file_size = 0;
  // PE only.
  std::uint32_t entry_point = 0;  // relative address of the entry point; 0 when there is none
  std::pair<unsigned, unsigned> os_version{}, subsystem_version{};  // {major, minor}
  std::string export_name;  // the library name of the export directory
  std::vector<unsigned> resource_types;  // ids of the resource directory's top level
  // PE: by ordinal, each with its last name in the name table. ELF: the defined global symbols.
  std::vector<Export> exports;
  // Every exported name (PE: also the second name of an ordinal that has two).
  std::vector<std::string> export_names;
  // PE: imported library (as written, e.g. "KERNEL32.dll") -> names ("#N" for ordinals).
  // ELF: "" -> the undefined symbols it needs.
  std::map<std::string, std::vector<std::string>> imports;

  bool exports_name(std::string_view name) const;
  bool imports_name(std::string_view name) const;
};

Image parse(std::span<const unsigned char> bytes);
// The file's first kMaxFileBytes; an image that is not ok when it cannot be read or is no regular
// file (a pipe, a device, a folder).
Image read(const std::string& path);

// The processor an image is built for, in words ("x86, 32-bit", "x86-64", "ARM64", ...).
std::string architecture(const Image& image);
// Whether two images run in the same process: the same format and machine.
bool same_architecture(const Image& a, const Image& b);

}  // namespace idcard::image
