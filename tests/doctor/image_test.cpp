// The image reader on small PE and ELF files built here, whole, truncated and garbled: a file
// from any folder must never make it read outside its bytes or loop on a count it claims.
#include <cstring>
#include <functional>
#include <ostream>

#include "tests/support/testbed_gtest.h"
#include "tools/image/image.h"

namespace {

namespace img = idcard::image;
using Bytes = std::vector<unsigned char>;

void put(Bytes& b, std::size_t at, std::uint64_t v, std::size_t width) {
  if (b.size() < at + width) b.resize(at + width);
  for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<unsigned char>(v >> 8 * i);
}
void put_text(Bytes& b, std::size_t at, const std::string& s) {
  if (b.size() < at + s.size() + 1) b.resize(at + s.size() + 1);
  std::memcpy(b.data() + at, s.c_str(), s.size() + 1);
}

// Where the builders put the fields the garbling rows change.
struct Layout {
  std::size_t coff = 0, optional = 0, section = 0, exports = 0, names = 0, strings = 0;
};

constexpr const char* kNames[] = {"GetBmp", "OpenPort"};

// A DLL with one section holding an export directory of two named functions.
Bytes pe(unsigned bits, Layout* l) {
  Bytes b;
  put(b, 0, 0x5A4D, 2);
  put(b, 0x3C, 0x40, 4);
  put(b, 0x40, 0x00004550, 4);
  l->coff = 0x44;
  put(b, l->coff, bits == 64 ? img::kMachineAmd64 : img::kMachineI386, 2);
  put(b, l->coff + 2, 1, 2);  // one section
  const std::size_t fixed = bits == 64 ? 112 : 96;
  put(b, l->coff + 16, fixed + 16 * 8, 2);
  l->optional = l->coff + 20;
  put(b, l->optional, bits == 64 ? 0x20B : 0x10B, 2);
  put(b, l->optional + fixed - 4, 16, 4);             // sixteen directories
  put(b, l->optional + fixed, 0x1000, 4);             // the export directory's address
  put(b, l->optional + fixed + 4, 0x100, 4);
  l->section = l->optional + fixed + 16 * 8;
  put(b, l->section + 8, 0x200, 4);   // virtual size
  put(b, l->section + 12, 0x1000, 4); // address
  put(b, l->section + 16, 0x200, 4);  // raw size
  put(b, l->section + 20, 0x200, 4);  // raw offset
  // Export directory at 0x200 (address 0x1000), its tables and names behind it.
  l->exports = 0x200;
  const std::uint32_t base = 0x1000;
  put(b, l->exports + 12, base + 0x80, 4);  // library name
  put(b, l->exports + 16, 1, 4);            // ordinal base
  put(b, l->exports + 20, 2, 4);
  put(b, l->exports + 24, 2, 4);
  put(b, l->exports + 28, base + 0x40, 4);  // functions
  put(b, l->exports + 32, base + 0x50, 4);  // names
  put(b, l->exports + 36, base + 0x60, 4);  // ordinals
  l->names = l->exports + 0x50;
  l->strings = l->exports + 0x90;
  put_text(b, l->exports + 0x80, "wltrs.dll");
  for (std::uint32_t i = 0; i < 2; ++i) {
    put(b, l->exports + 0x40 + 4 * i, 0x1100 + i, 4);
    put(b, l->names + 4 * i, base + 0x90 + 0x10 * i, 4);
    put(b, l->exports + 0x60 + 2 * i, i, 2);
    put_text(b, l->strings + 0x10 * i, kNames[i]);
  }
  b.resize(0x400);
  return b;
}

// A 64-bit shared object with a dynamic symbol table: GetBmp and OpenPort defined, malloc needed.
Bytes elf(Layout* l) {
  Bytes b;
  put_text(b, 0, "\x7f" "ELF");
  put(b, 4, 2, 1);  // 64-bit
  put(b, 5, 1, 1);  // little-endian
  put(b, 18, img::kElfX86_64, 2);
  l->strings = 64;
  put_text(b, 64, "");
  put_text(b, 65, "GetBmp");
  put_text(b, 72, "OpenPort");
  put_text(b, 81, "malloc");
  l->exports = 128;  // the symbol table
  const std::uint32_t names[] = {0, 1, 8, 17};
  for (std::size_t i = 1; i < 4; ++i) {
    const std::size_t s = l->exports + 24 * i;
    put(b, s, names[i], 4);
    put(b, s + 4, 0x12, 1);            // global function
    put(b, s + 6, i == 3 ? 0 : 7, 2);  // malloc is undefined
  }
  l->section = 256;  // section headers: null, .dynsym, .dynstr
  put(b, 40, l->section, 8);
  put(b, 58, 64, 2);
  put(b, 60, 3, 2);
  const std::size_t sym = l->section + 64, str = l->section + 128;
  put(b, sym + 4, 11, 4);
  put(b, sym + 24, l->exports, 8);
  put(b, sym + 32, 4 * 24, 8);
  put(b, sym + 40, 2, 4);
  put(b, str + 4, 3, 4);
  put(b, str + 24, l->strings, 8);
  put(b, str + 32, 64, 8);
  b.resize(str + 64);
  return b;
}

// A 64-bit shared object whose section headers list one symbol table of 64 defined functions 300
// times over: each table read again would multiply the exports far beyond what the file holds.
Bytes elf_tables_over_the_same_bytes(Layout* l) {
  Bytes b;
  put_text(b, 0, "\x7f" "ELF");
  put(b, 4, 2, 1);
  put(b, 5, 1, 1);
  put(b, 18, img::kElfX86_64, 2);
  l->strings = 64;
  put_text(b, 65, "F");
  l->exports = 128;
  constexpr std::size_t kSymbols = 64, kTables = 300;
  for (std::size_t i = 1; i < kSymbols; ++i) {
    const std::size_t s = l->exports + 24 * i;
    put(b, s, 1, 4);
    put(b, s + 4, 0x12, 1);
    put(b, s + 6, 7, 2);
  }
  l->section = l->exports + 24 * kSymbols;
  put(b, 40, l->section, 8);
  put(b, 58, 64, 2);
  put(b, 60, kTables + 2, 2);
  const std::size_t str = l->section + 64;  // header 1: the strings; 2 onwards: the tables
  put(b, str + 4, 3, 4);
  put(b, str + 24, l->strings, 8);
  put(b, str + 32, 16, 8);
  for (std::size_t t = 0; t < kTables; ++t) {
    const std::size_t sym = l->section + 64 * (2 + t);
    put(b, sym + 4, 11, 4);
    put(b, sym + 24, l->exports, 8);
    put(b, sym + 32, 24 * kSymbols, 8);
    put(b, sym + 40, 1, 4);
  }
  b.resize(l->section + 64 * (kTables + 2));
  return b;
}

struct ImageCase {
  const char* name;
  Bytes (*build)(Layout*);
  std::function<void(Bytes&, const Layout&)> garble;
  bool ok, truncated;
  std::vector<std::string> exports;  // names it must still find
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

Bytes pe64(Layout* l) { return pe(64, l); }
Bytes pe32(Layout* l) { return pe(32, l); }
void none(Bytes&, const Layout&) {}
auto cut(std::size_t size) {
  return [size](Bytes& b, const Layout&) { b.resize(size); };
}
auto cut_at(std::size_t Layout::*field, std::size_t plus) {
  return [field, plus](Bytes& b, const Layout& l) { b.resize(l.*field + plus); };
}
auto poke(std::size_t Layout::*field, std::size_t plus, std::uint64_t value, std::size_t width) {
  return [=](Bytes& b, const Layout& l) { put(b, l.*field + plus, value, width); };
}
const std::vector<std::string> kBoth = {"GetBmp", "OpenPort"};

const ImageCase kCases[] = {
    {"pe64_whole", pe64, none, true, false, kBoth},
    {"pe32_whole", pe32, none, true, false, kBoth},
    {"pe_cut_in_dos_header", pe64, cut(0x20), false, false, {}},
    {"pe_cut_in_optional_header", pe64, cut(0x60), false, false, {}},
    {"pe_cut_before_section_data", pe64, cut(0x200), true, true, {}},
    {"pe_cut_in_name_strings", pe64, cut_at(&Layout::strings, 3), true, true, {}},
    {"pe_lfanew_past_end", pe64, [](Bytes& b, const Layout&) { put(b, 0x3C, 0xFFFFFFF0, 4); }, false,
     false, {}},
    {"pe_section_count_65535", pe64, poke(&Layout::coff, 2, 0xFFFF, 2), true, true, kBoth},
    {"pe_directory_count_huge", pe64, poke(&Layout::optional, 108, 0xFFFFFFFF, 4), true, false, kBoth},
    {"pe_export_directory_nowhere", pe64, poke(&Layout::optional, 112, 0xFFFFFFF0, 4), true, false, {}},
    {"pe_function_count_huge", pe64, poke(&Layout::exports, 20, 0xFFFFFFFF, 4), true, true, kBoth},
    {"pe_name_count_huge", pe64, poke(&Layout::exports, 24, 0xFFFFFFFF, 4), true, true, kBoth},
    {"pe_name_address_nowhere", pe64, poke(&Layout::names, 0, 0xFFFFFFF0, 4), true, false,
     {"OpenPort"}},
    {"pe_section_data_past_end", pe64, poke(&Layout::section, 20, 0x7FFFFFF0, 4), true, true, {}},
    {"elf_whole", elf, none, true, false, kBoth},
    {"elf_cut_in_header", elf, cut(40), false, false, {}},
    {"elf_cut_before_section_headers", elf, cut_at(&Layout::section, 10), true, true, {}},
    {"elf_section_offset_huge", elf, [](Bytes& b, const Layout&) { put(b, 40, ~0ull, 8); }, true,
     true, {}},
    {"elf_section_count_65535", elf, [](Bytes& b, const Layout&) { put(b, 60, 0xFFFF, 2); }, true,
     true, kBoth},
    {"elf_symbol_table_size_huge", elf, poke(&Layout::section, 64 + 32, ~0ull >> 1, 8), true, true,
     kBoth},
    {"elf_string_link_out_of_range", elf, poke(&Layout::section, 64 + 40, 99, 4), true, false, {}},
    {"elf_name_past_strings", elf, poke(&Layout::exports, 24, 0xFFFFFF, 4), true, false,
     {"OpenPort"}},
    {"elf_symbol_tables_over_the_same_bytes", elf_tables_over_the_same_bytes, none, true, false,
     {"F"}},
};

class ImageReader : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageReader, ReadsWhatLiesInsideTheFileOnly) {
  const ImageCase& c = GetParam();
  Layout layout;
  Bytes bytes = c.build(&layout);
  c.garble(bytes, layout);
  const img::Image image = img::parse(bytes);
  EXPECT_EQ(image.ok, c.ok);
  EXPECT_EQ(image.truncated, c.truncated);
  EXPECT_EQ(image.file_size, bytes.size());
  for (const std::string& name : c.exports) EXPECT_TRUE(image.exports_name(name)) << name;
  if (!c.ok) {
    EXPECT_EQ(image.format, img::Format::None);
    EXPECT_TRUE(image.exports.empty());
  }
  EXPECT_LE(image.exports.size(), bytes.size() / 4);  // never more than the bytes can hold
}

INSTANTIATE_TEST_SUITE_P(Files, ImageReader, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every length of a real library cut short reads without a fault (the sanitizers watch).
TEST(RealLibraryImage, ReadsEveryPrefixWithoutAFault) {
  const testbed::Bytes whole = testbed::read_file(testbed::simulator_path(SIM_LIB_WLTRS));
  ASSERT_FALSE(whole.empty());
  const img::Image full = img::parse(whole);
  ASSERT_TRUE(full.ok);
  EXPECT_TRUE(full.exports_name("GetBmp"));
  const std::size_t step = std::max<std::size_t>(1, whole.size() / 997);
  for (std::size_t n = 0; n < whole.size(); n += step) {
    const img::Image part = img::parse(std::span(whole.data(), n));
    if (part.ok) {
      EXPECT_EQ(part.machine, full.machine) << n;
    }
    EXPECT_LE(part.exports.size(), full.exports.size() + n / 4) << n;
  }
}

}  // namespace
