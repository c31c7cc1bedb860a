#include "tools/image/image.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace idcard::image {

namespace {

constexpr std::size_t kNowhere = SIZE_MAX;
// Bounds on what a garbled header may claim.
constexpr unsigned kMaxSections = 96;  // the loader's own limit
constexpr std::uint32_t kMaxExports = 65536;
constexpr std::size_t kMaxImportLibraries = 1024;
constexpr std::size_t kMaxImportedNames = 65536;  // in all: descriptors may share one table
constexpr std::size_t kMaxSymbols = 1u << 18;
constexpr std::size_t kMaxName = 512;

// Little- or big-endian reads that give 0 outside the bytes.
class Bytes {
 public:
  Bytes(std::span<const unsigned char> b, bool big = false) : b_(b), big_(big) {}
  std::size_t size() const { return b_.size(); }
  bool in(std::size_t offset, std::size_t size) const {
    return offset <= b_.size() && size <= b_.size() - offset;
  }
  std::uint64_t uint(std::size_t o, std::size_t width) const {
    if (!in(o, width)) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
      v |= std::uint64_t{b_[o + i]} << 8 * (big_ ? width - 1 - i : i);
    return v;
  }
  std::uint32_t u8(std::size_t o) const { return static_cast<std::uint32_t>(uint(o, 1)); }
  std::uint32_t u16(std::size_t o) const { return static_cast<std::uint32_t>(uint(o, 2)); }
  std::uint32_t u32(std::size_t o) const { return static_cast<std::uint32_t>(uint(o, 4)); }
  std::uint64_t u64(std::size_t o) const { return uint(o, 8); }
  // A zero-terminated name of at most kMaxName bytes; empty when it does not start in the bytes.
  std::string str(std::size_t o) const {
    std::string s;
    while (in(o, 1) && b_[o] != 0 && s.size() < kMaxName) s += static_cast<char>(b_[o++]);
    return s;
  }

 private:
  std::span<const unsigned char> b_;
  bool big_;
};

// Offsets that may have run past the end (or be kNowhere) stay kNowhere when added to.
std::size_t plus(std::size_t offset, std::uint64_t n) {
  return offset == kNowhere || n > kNowhere - offset ? kNowhere : offset + static_cast<std::size_t>(n);
}
// A 64-bit offset or size from a file, kNowhere when it does not fit a size_t.
std::size_t offset(std::uint64_t v) { return v >= kNowhere ? kNowhere : static_cast<std::size_t>(v); }

// ---- PE -----------------------------------------------------------------------------------------

struct Section {
  std::uint64_t rva, size, raw;
};

class Pe {
 public:
  explicit Pe(Bytes b) : b_(b) {}

  bool read(Image& image) {
    if (b_.u16(0) != 0x5A4D) return false;  // "MZ"
    const std::size_t pe = b_.u32(0x3C);
    if (b_.u32(pe) != 0x00004550) return false;  // "PE\0\0"
    const std::size_t coff = pe + 4;
    const std::size_t optional = coff + 20;
    const std::uint32_t magic = b_.u16(optional);
    if (magic != 0x10B && magic != 0x20B) return false;
    const bool plus64 = magic == 0x20B;
    // The optional header's fixed part ends with the number of data directories.
    const std::size_t fixed = plus64 ? 112 : 96;
    const std::size_t optional_size = b_.u16(coff + 16);
    if (optional_size < fixed || !b_.in(optional, fixed)) return false;
    image.format = Format::Pe;
    image.machine = b_.u16(coff);
    image.bits = plus64 ? 64 : 32;
    image.entry_point = b_.u32(optional + 16);
    image.os_version = {b_.u16(optional + 40), b_.u16(optional + 42)};
    image.subsystem_version = {b_.u16(optional + 48), b_.u16(optional + 50)};
    // Only the directories that the header both counts and holds.
    directories_ = optional + fixed;
    directory_count_ =
        std::min<std::size_t>({b_.u32(directories_ - 4), (optional_size - fixed) / 8, 16});
    const unsigned sections = std::min(b_.u16(coff + 2), kMaxSections);
    for (unsigned i = 0; i < sections; ++i) {
      const std::size_t s = optional + optional_size + 40 * i;
      if (!b_.in(s, 40)) {
        image.truncated = true;
        break;
      }
      const std::uint32_t raw_size = b_.u32(s + 16), raw = b_.u32(s + 20);
      if (raw_size && !b_.in(raw, raw_size)) image.truncated = true;
      sections_.push_back({b_.u32(s + 12), std::max(b_.u32(s + 8), raw_size), raw});
    }
    read_exports(image);
    read_imports(image);
    read_resources(image);
    return true;
  }

 private:
  std::uint32_t directory(std::size_t i) const {
    return i < directory_count_ ? b_.u32(directories_ + 8 * i) : 0;
  }

  // File offset of a relative virtual address; kNowhere when no section holds it.
  std::size_t at(std::uint64_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.rva && rva - s.rva < s.size) return plus(s.raw, rva - s.rva);
    }
    return kNowhere;
  }
  std::string name_at(std::uint64_t rva) const {
    const std::size_t o = at(rva);
    return o == kNowhere ? std::string() : b_.str(o);
  }

  void read_exports(Image& image) const {
    const std::size_t e = at(directory(0));
    if (!directory(0) || e == kNowhere) return;
    image.export_name = name_at(b_.u32(e + 12));
    const std::uint32_t base = b_.u32(e + 16);
    const std::size_t function_table = at(b_.u32(e + 28));
    const std::size_t name_table = at(b_.u32(e + 32));
    const std::size_t ordinal_table = at(b_.u32(e + 36));
    // No more functions than the table can hold within the file: a garbled count must not cost
    // a name slot for each of its 65536.
    const std::size_t room = function_table < b_.size() ? (b_.size() - function_table) / 4 : 0;
    const std::uint32_t claimed = std::min(b_.u32(e + 20), kMaxExports);
    if (function_table != kNowhere && claimed > room) image.truncated = true;
    const std::uint32_t functions = static_cast<std::uint32_t>(std::min<std::size_t>(claimed, room));
    const std::uint32_t names = std::min(b_.u32(e + 24), kMaxExports);
    // One pass over the name table; an ordinal keeps the last of its names.
    std::vector<std::string> name_of(functions);
    if (name_table != kNowhere && ordinal_table != kNowhere) {
      for (std::uint32_t n = 0; n < names; ++n) {
        const std::size_t name_entry = plus(name_table, 4ull * n);
        const std::size_t ordinal_entry = plus(ordinal_table, 2ull * n);
        if (!b_.in(name_entry, 4) || !b_.in(ordinal_entry, 2)) {
          image.truncated = true;
          break;
        }
        std::string name = name_at(b_.u32(name_entry));
        const std::uint32_t index = b_.u16(ordinal_entry);
        if (name.empty()) continue;
        image.export_names.push_back(name);
        if (index < functions) name_of[index] = std::move(name);
      }
    }
    if (function_table == kNowhere) return;
    for (std::uint32_t i = 0; i < functions; ++i) {
      const std::size_t entry = plus(function_table, 4ull * i);
      if (!b_.in(entry, 4)) {
        image.truncated = true;
        break;
      }
      if (b_.u32(entry) == 0) continue;  // an unassigned ordinal
      image.exports.push_back({base + i, std::move(name_of[i])});
    }
  }

  void read_imports(Image& image) const {
    const std::size_t d = at(directory(1));
    if (!directory(1) || d == kNowhere) return;
    const std::size_t width = image.bits == 64 ? 8 : 4;
    std::size_t desc = d, total = 0;
    for (std::size_t count = 0; count < kMaxImportLibraries; ++count, desc = plus(desc, 20)) {
      if (!b_.in(desc, 20)) {
        image.truncated = true;
        return;
      }
      if (b_.u32(desc + 12) == 0) return;
      std::vector<std::string>& names = image.imports[name_at(b_.u32(desc + 12))];
      const std::uint32_t thunks = b_.u32(desc) ? b_.u32(desc) : b_.u32(desc + 16);
      std::size_t t = at(thunks);
      for (; t != kNowhere && total < kMaxImportedNames; ++total, t = plus(t, width)) {
        if (!b_.in(t, width)) {
          image.truncated = true;
          break;
        }
        const std::uint64_t v = width == 8 ? b_.u64(t) : b_.u32(t);
        if (v == 0) break;
        const bool by_ordinal = (v >> (8 * width - 1)) != 0;
        if (by_ordinal) {
          names.push_back(std::string(1, '#').append(std::to_string(v & 0xFFFF)));
        } else {
          names.push_back(name_at((v & 0xFFFFFFFFu) + 2));
        }
      }
    }
  }

  void read_resources(Image& image) const {
    const std::size_t d = at(directory(2));
    if (!directory(2) || d == kNowhere) return;
    const std::uint32_t named = b_.u16(d + 12), ids = b_.u16(d + 14);
    for (std::uint32_t i = 0; i < ids; ++i) {
      const std::size_t entry = plus(d, 16 + 8ull * (named + i));
      if (!b_.in(entry, 8)) {
        image.truncated = true;
        return;
      }
      image.resource_types.push_back(b_.u32(entry));
    }
  }

  Bytes b_;
  std::vector<Section> sections_;
  std::size_t directory_count_ = 0, directories_ = 0;
};

// ---- ELF ----------------------------------------------------------------------------------------

bool read_elf(std::span<const unsigned char> bytes, Image& image) {
  if (bytes.size() < 52 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' ||
      bytes[3] != 'F')
    return false;
  const unsigned elf_class = bytes[4], data = bytes[5];
  if ((elf_class != 1 && elf_class != 2) || (data != 1 && data != 2)) return false;
  const bool wide = elf_class == 2;
  const Bytes b(bytes, data == 2);
  if (wide && b.size() < 64) return false;
  image.format = Format::Elf;
  image.bits = wide ? 64 : 32;
  image.machine = b.u16(18);
  const std::size_t word = wide ? 8 : 4;
  // The loader maps each loadable segment from the file: one that reaches beyond the file's end
  // would fault when touched.
  const std::uint64_t phoff = b.uint(wide ? 32 : 28, word);
  const std::size_t phentsize = b.u16(wide ? 54 : 42);
  const std::size_t phnum = b.u16(wide ? 56 : 44);
  if (phoff != 0 && phnum != 0) {
    if (phentsize < (wide ? 56u : 32u)) image.truncated = true;
    for (std::size_t i = 0; i < phnum && !image.truncated; ++i) {
      const std::size_t h = plus(offset(phoff), std::uint64_t{i} * phentsize);
      if (!b.in(h, phentsize)) {
        image.truncated = true;
        break;
      }
      constexpr std::uint32_t kLoad = 1;
      if (b.u32(h) != kLoad) continue;
      const std::uint64_t file_offset = b.uint(h + (wide ? 8 : 4), word);
      const std::uint64_t file_size = b.uint(h + (wide ? 32 : 16), word);
      if (file_size && !b.in(offset(file_offset), offset(file_size))) image.truncated = true;
    }
  }
  const std::uint64_t shoff = b.uint(wide ? 40 : 32, word);
  const std::size_t shentsize = b.u16(wide ? 58 : 46);
  const std::size_t shnum = b.u16(wide ? 60 : 48);
  if (shoff == 0 || shnum == 0) return true;  // no section headers: nothing more to read
  if (shentsize < (wide ? 64u : 40u)) {
    image.truncated = true;
    return true;
  }
  struct ElfSection {
    std::uint32_t type, link;
    std::uint64_t offset, size;
  };
  std::vector<ElfSection> sections;
  for (std::size_t i = 0; i < shnum; ++i) {
    const std::size_t h = plus(offset(shoff), std::uint64_t{i} * shentsize);
    if (!b.in(h, shentsize)) {
      image.truncated = true;
      break;
    }
    const ElfSection s{b.u32(h + 4), b.u32(h + (wide ? 40 : 24)), b.uint(h + (wide ? 24 : 16), word),
                       b.uint(h + (wide ? 32 : 20), word)};
    constexpr std::uint32_t kNoBits = 8;
    if (s.type != kNoBits && s.size && !b.in(offset(s.offset), offset(s.size))) image.truncated = true;
    sections.push_back(s);
  }
  constexpr std::uint32_t kDynSym = 11;
  const std::size_t symbol_size = wide ? 24 : 16;
  // In all, never more symbols than the file holds once: a garbled file may hold many symbol
  // tables, all over the same bytes.
  std::size_t symbols_left = std::min(kMaxSymbols, b.size() / symbol_size);
  for (const ElfSection& s : sections) {
    if (s.type != kDynSym || s.link >= sections.size()) continue;
    const ElfSection& strings = sections[s.link];
    const std::uint64_t count = std::min<std::uint64_t>(s.size / symbol_size, symbols_left);
    symbols_left -= static_cast<std::size_t>(count);
    for (std::uint64_t i = 1; i < count; ++i) {  // symbol 0 is the null symbol
      const std::size_t sym = plus(offset(s.offset), i * symbol_size);
      if (!b.in(sym, symbol_size)) {
        image.truncated = true;
        break;
      }
      const std::uint32_t name = b.u32(sym);
      const std::uint32_t info = b.u8(sym + (wide ? 4 : 12));
      const std::uint32_t other = b.u8(sym + (wide ? 5 : 13));
      const std::uint32_t section = b.u16(sym + (wide ? 6 : 14));
      const std::uint32_t binding = info >> 4;
      constexpr std::uint32_t kGlobal = 1, kWeak = 2, kDefaultVisibility = 0;
      if (binding != kGlobal && binding != kWeak) continue;
      if (name >= strings.size) continue;
      const std::string text = b.str(plus(offset(strings.offset), name));
      if (text.empty()) continue;
      if (section == 0) {
        image.imports[""].push_back(text);
      } else if ((other & 3) == kDefaultVisibility) {
        image.exports.push_back({0, text});
        image.export_names.push_back(text);
      }
    }
  }
  return true;
}

}  // namespace

bool Image::exports_name(std::string_view name) const {
  return std::find(export_names.begin(), export_names.end(), name) != export_names.end();
}

bool Image::imports_name(std::string_view name) const {
  for (const auto& [library, names] : imports) {
    if (std::find(names.begin(), names.end(), name) != names.end()) return true;
  }
  return false;
}

Image parse(std::span<const unsigned char> bytes) {
  Image image;
  image.file_size = bytes.size();
  if (Pe(Bytes(bytes)).read(image) || read_elf(bytes, image)) {
    image.ok = true;
    return image;
  }
  Image none;
  none.file_size = bytes.size();
  return none;
}

Image read(const std::string& path) {
#if !defined(_WIN32)
  // A pipe or a device under a library's name would block the reader or never end.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return Image();
#endif
  std::ifstream in(path, std::ios::binary);
  if (!in) return Image();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0 || !in) return Image();
  std::vector<unsigned char> bytes(std::min<std::size_t>(static_cast<std::size_t>(size), kMaxFileBytes));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return parse(bytes);
}

std::string architecture(const Image& image) {
  struct Name {
    Format format;
    unsigned machine;
    const char* text;
  };
  static constexpr Name kNames[] = {
      {Format::Pe, kMachineI386, "x86, 32-bit"},   {Format::Pe, kMachineAmd64, "x64, 64-bit"},
      {Format::Pe, kMachineArm64, "ARM64"},        {Format::Elf, kElfI386, "x86, 32-bit"},
      {Format::Elf, kElfX86_64, "x86-64"},         {Format::Elf, kElfAarch64, "ARM64 (aarch64)"},
      {Format::Elf, kElfArm, "ARM, 32-bit"}};
  for (const Name& n : kNames) {
    if (n.format == image.format && n.machine == image.machine) return n.text;
  }
  char text[48];
  std::snprintf(text, sizeof text, "machine 0x%X, %u-bit", image.machine, image.bits);
  return text;
}

bool same_architecture(const Image& a, const Image& b) {
  return a.ok && b.ok && a.format == b.format && a.machine == b.machine && a.bits == b.bits;
}

}  // namespace idcard::image
