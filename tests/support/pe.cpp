#include "tests/support/pe.h"

#include <algorithm>
#include <cstdint>

#include "tests/support/bench.h"

namespace bench::pe {
namespace {

class Reader {
 public:
  explicit Reader(Bytes bytes) : b_(std::move(bytes)) {}
  std::size_t size() const { return b_.size(); }

  bool in(std::size_t offset, std::size_t size) const {
    return offset <= b_.size() && size <= b_.size() - offset;
  }
  std::uint32_t u16(std::size_t o) const { return in(o, 2) ? b_[o] | b_[o + 1] << 8 : 0; }
  std::uint32_t u32(std::size_t o) const {
    return in(o, 4) ? b_[o] | b_[o + 1] << 8 | b_[o + 2] << 16 | std::uint32_t(b_[o + 3]) << 24
                    : 0;
  }
  std::uint64_t u64(std::size_t o) const { return u32(o) | std::uint64_t(u32(o + 4)) << 32; }
  std::string str(std::size_t o) const {
    std::string s;
    while (in(o, 1) && b_[o] != 0 && s.size() < 512) s += static_cast<char>(b_[o++]);
    return s;
  }

  struct Section {
    std::uint32_t rva, size, raw;
  };
  std::vector<Section> sections;

  // File offset of a relative virtual address; SIZE_MAX when no section holds it.
  std::size_t at(std::uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.rva && rva < s.rva + s.size) return s.raw + (rva - s.rva);
    return SIZE_MAX;
  }

 private:
  Bytes b_;
};

}  // namespace

Image read(const std::string& path) {
  Image image;
  Reader r(read_file(path));
  if (r.u16(0) != 0x5A4D) return image;  // "MZ"
  const std::size_t pe = r.u32(0x3C);
  if (r.u32(pe) != 0x00004550) return image;  // "PE\0\0"
  const std::size_t coff = pe + 4;
  image.machine = r.u16(coff);
  const unsigned section_count = r.u16(coff + 2);
  const std::size_t optional = coff + 20;
  const std::size_t optional_size = r.u16(coff + 16);
  const bool pe32_plus = r.u16(optional) == 0x20B;
  image.file_size = r.size();
  image.entry_point = r.u32(optional + 16);
  image.os_version = {r.u16(optional + 40), r.u16(optional + 42)};
  image.subsystem_version = {r.u16(optional + 48), r.u16(optional + 50)};
  const std::size_t directories = optional + (pe32_plus ? 112 : 96);
  auto directory = [&](int i) { return r.u32(directories + 8 * i); };
  for (unsigned i = 0; i < section_count; ++i) {
    const std::size_t s = optional + optional_size + 40 * i;
    r.sections.push_back({r.u32(s + 12), std::max(r.u32(s + 8), r.u32(s + 16)), r.u32(s + 20)});
  }

  if (const std::size_t e = r.at(directory(0)); directory(0) && e != SIZE_MAX) {
    image.export_name = r.str(r.at(r.u32(e + 12)));
    const unsigned base = r.u32(e + 16), functions = r.u32(e + 20), names = r.u32(e + 24);
    const std::size_t function_table = r.at(r.u32(e + 28)), name_table = r.at(r.u32(e + 32)),
                      ordinal_table = r.at(r.u32(e + 36));
    for (unsigned i = 0; i < functions && i < 65536; ++i) {
      if (r.u32(function_table + 4 * i) == 0) continue;  // an unassigned ordinal
      Export ex{base + i, ""};
      for (unsigned n = 0; n < names && n < 65536; ++n)
        if (r.u16(ordinal_table + 2 * n) == i) ex.name = r.str(r.at(r.u32(name_table + 4 * n)));
      image.exports.push_back(ex);
    }
  }

  if (const std::size_t d = r.at(directory(1)); directory(1) && d != SIZE_MAX) {
    for (std::size_t desc = d; r.in(desc, 20) && r.u32(desc + 12) != 0; desc += 20) {
      std::vector<std::string>& names = image.imports[r.str(r.at(r.u32(desc + 12)))];
      const std::uint32_t thunks = r.u32(desc) ? r.u32(desc) : r.u32(desc + 16);
      const std::size_t width = pe32_plus ? 8 : 4;
      for (std::size_t t = r.at(thunks); t != SIZE_MAX && r.in(t, width); t += width) {
        const std::uint64_t v = pe32_plus ? r.u64(t) : r.u32(t);
        if (v == 0) break;
        const bool by_ordinal = pe32_plus ? (v >> 63) != 0 : (v >> 31) != 0;
        names.push_back(by_ordinal ? "#" + std::to_string(v & 0xFFFF)
                                   : r.str(r.at(static_cast<std::uint32_t>(v)) + 2));
      }
    }
  }

  if (const std::size_t d = r.at(directory(2)); directory(2) && d != SIZE_MAX) {
    const unsigned named = r.u16(d + 12), ids = r.u16(d + 14);
    for (unsigned i = 0; i < ids; ++i) image.resource_types.push_back(r.u32(d + 16 + 8 * (named + i)));
  }
  image.ok = true;
  return image;
}

}  // namespace bench::pe
