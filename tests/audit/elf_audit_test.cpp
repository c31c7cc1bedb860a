// Audit of the Linux files in dist/ (x86-64 and ARM64): every ELF file shipped is listed here with
// the libraries it may need and the newest glibc symbol version it may require, so that it loads
// on the old C libraries of the desks (2.17 for the libraries, 2.28 for idcard). A new shipped
// file, a new NEEDED entry or a newer symbol version fails until it is added here on purpose.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/testbed_gtest.h"

namespace {

// What the audit reads from an ELF file: its machine, its NEEDED entries and, per library, the
// symbol versions it requires (the version-needed section).
struct Elf {
  bool ok = false;
  unsigned machine = 0;
  std::set<std::string> needed;
  std::map<std::string, std::set<std::string>> versions;  // library -> version names
};

constexpr unsigned kMachineX86_64 = 62;
constexpr unsigned kMachineAarch64 = 183;

template <typename T>
T get(const testbed::Bytes& b, std::size_t offset) {
  T v{};
  if (offset + sizeof v <= b.size()) std::memcpy(&v, b.data() + offset, sizeof v);
  return v;
}

std::string string_at(const testbed::Bytes& b, std::size_t offset) {
  std::string s;
  while (offset < b.size() && b[offset]) s += static_cast<char>(b[offset++]);
  return s;
}

// A 64-bit little-endian ELF file, read through its section headers.
Elf read_elf(const std::string& path) {
  const testbed::Bytes b = testbed::read_file(path);
  Elf elf;
  if (b.size() < 64 || std::memcmp(b.data(), "\x7f" "ELF", 4) != 0 || b[4] != 2 || b[5] != 1)
    return elf;
  elf.machine = get<std::uint16_t>(b, 18);
  const auto shoff = get<std::uint64_t>(b, 40);
  const auto shentsize = get<std::uint16_t>(b, 58);
  const auto shnum = get<std::uint16_t>(b, 60);
  struct Section {
    std::uint32_t type, link;
    std::uint64_t offset, size;
  };
  std::vector<Section> sections;
  for (unsigned i = 0; i < shnum; ++i) {
    const std::size_t h = shoff + std::size_t{i} * shentsize;
    sections.push_back({get<std::uint32_t>(b, h + 4), get<std::uint32_t>(b, h + 40),
                        get<std::uint64_t>(b, h + 24), get<std::uint64_t>(b, h + 32)});
  }
  constexpr std::uint32_t kDynamic = 6, kVerneed = 0x6ffffffe;
  for (const Section& s : sections) {
    if (s.link >= sections.size()) continue;
    const std::uint64_t strings = sections[s.link].offset;
    if (s.type == kDynamic) {
      for (std::uint64_t d = s.offset; d + 16 <= s.offset + s.size; d += 16) {
        const auto tag = get<std::int64_t>(b, d);
        if (tag == 0) break;
        if (tag == 1) elf.needed.insert(string_at(b, strings + get<std::uint64_t>(b, d + 8)));
      }
    } else if (s.type == kVerneed) {
      // Elf64_Verneed {version, count, file, aux, next}, each followed by Elf64_Vernaux
      // {hash, flags, other, name, next} entries.
      std::uint64_t entry = s.offset;
      for (;;) {
        const auto count = get<std::uint16_t>(b, entry + 2);
        const std::string file = string_at(b, strings + get<std::uint32_t>(b, entry + 4));
        std::uint64_t aux = entry + get<std::uint32_t>(b, entry + 8);
        for (unsigned i = 0; i < count; ++i) {
          elf.versions[file].insert(string_at(b, strings + get<std::uint32_t>(b, aux + 8)));
          aux += get<std::uint32_t>(b, aux + 12);
        }
        const auto next = get<std::uint32_t>(b, entry + 12);
        if (next == 0) break;
        entry += next;
      }
    }
  }
  elf.ok = true;
  return elf;
}

struct Shipped {
  const char* file;  // within dist/linux-<architecture>/
  std::set<std::string> needed;  // besides the architecture's dynamic loader
};

// Every file needs glibc 2.17 at most (idcard would be allowed 2.28; it measures 2.17 too), and
// of libgcc_s (the unwinder of what carries a C++ runtime) what GCC 4.2 already had.
const std::vector<int> kNewestGlibc = {2, 17};
const std::vector<int> kNewestLibgcc = {4, 2, 0};

// The libraries need the C library and libdl (where glibc before 2.34 has the dl* functions);
// the SDT edition also the driver and decoder. The simulator, the recording driver and idcard
// carry their C++ runtime: libpthread for its thread functions, libgcc_s for unwinding.
const std::set<std::string> kRuntime = {"libc.so.6", "libdl.so.2", "libpthread.so.0",
                                        "libgcc_s.so.1"};
const std::vector<Shipped> kShipped = {
    {"qdx/libridel-qdx.so.1", {"libc.so.6", "libdl.so.2"}},
    {"sdt/libridel-sdt.so.1", {"libc.so.6", "libdl.so.2", "libsdtapi.so", "libwltrs.so"}},
    {"vantrel/libvantrel.so.1", {"libc.so.6", "libdl.so.2"}},
    {"simulator/libsdtapi.so", kRuntime},
    {"simulator/libstdapi.so", kRuntime},
    {"simulator/libwltrs.so", kRuntime},
    {"recorder/libsdtapi.so", kRuntime},
    {"recorder/libstdapi.so", kRuntime},
    {"recorder/libwltrs.so", kRuntime},
    {"tools/idcard", kRuntime},
    {"tools/idcard-reader", kRuntime},
};

// "GLIBC_2.3.4" -> {2, 3, 4} for prefix "GLIBC_"; empty for names of another prefix.
std::vector<int> version_of(const std::string& name, const std::string& prefix) {
  std::vector<int> out;
  if (name.rfind(prefix, 0) != 0) return out;
  std::istringstream in(name.substr(prefix.size()));
  std::string part;
  while (std::getline(in, part, '.')) out.push_back(std::atoi(part.c_str()));
  return out;
}

struct Architecture {
  const char* folder;
  unsigned machine;
  const char* loader;  // the dynamic loader, which any file may need
};
constexpr Architecture kArchitectures[] = {
    {"linux-x86_64", kMachineX86_64, "ld-linux-x86-64.so.2"},
    {"linux-aarch64", kMachineAarch64, "ld-linux-aarch64.so.1"}};

std::string dist(const std::string& folder) {
  return std::string(RIDEL_SOURCE_DIR) + "/dist/" + folder;
}

// `make test` builds dist/ for both architectures first and sets RIDEL_AUDIT_REQUIRED; a build by
// hand without them skips the architecture it lacks.
bool have(const Architecture& a) {
  if (std::filesystem::exists(dist(a.folder) + "/qdx")) return true;
  if (std::getenv("RIDEL_AUDIT_REQUIRED")) ADD_FAILURE() << dist(a.folder) << " is missing";
  return false;
}

TEST(LinuxAudit, EveryShippedElfFileIsListed) {
  namespace fs = std::filesystem;
  std::set<std::string> listed;
  for (const Shipped& s : kShipped) listed.insert(s.file);
  for (const Architecture& a : kArchitectures) {
    if (!have(a)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dist(a.folder))) {
      if (entry.is_symlink() || !entry.is_regular_file()) continue;
      const std::string relative = fs::relative(entry.path(), dist(a.folder)).generic_string();
      const Elf elf = read_elf(entry.path().string());
      if (!elf.ok) continue;
      // The editions' files carry the full version; the audit names them by their SONAME.
      std::string name = relative;
      if (const std::size_t so = name.find(".so.1."); so != std::string::npos)
        name.erase(so + 5);
      EXPECT_TRUE(listed.count(name)) << a.folder << "/" << relative << " is not audited";
      EXPECT_EQ(elf.machine, a.machine) << a.folder << "/" << relative;
    }
  }
}

TEST(LinuxAudit, ShippedFilesNeedOnlyTheirListAndOldGlibc) {
  for (const Architecture& a : kArchitectures) {
    if (!have(a)) continue;
    for (const Shipped& s : kShipped) {
      SCOPED_TRACE(std::string(a.folder) + "/" + s.file);
      const Elf elf = read_elf(dist(a.folder) + "/" + s.file);
      ASSERT_TRUE(elf.ok) << "missing or not an ELF file";
      std::set<std::string> needed = elf.needed;
      needed.erase(a.loader);  // where a C++ runtime's thread-local storage needs it
      for (const std::string& n : needed) EXPECT_TRUE(s.needed.count(n)) << "needs " << n;
      for (const char* n : {"libc.so.6", "libdl.so.2"})
        EXPECT_TRUE(needed.count(n)) << "does not need " << n;
      for (const auto& [library, names] : elf.versions) {
        for (const std::string& name : names) {
          // glibc's versions, and libgcc_s's: no C++ runtime of the desk's system (GLIBCXX_,
          // CXXABI_) is needed.
          const std::vector<int> glibc = version_of(name, "GLIBC_");
          const std::vector<int> libgcc = version_of(name, "GCC_");
          EXPECT_FALSE(glibc.empty() && libgcc.empty()) << library << " " << name;
          if (!glibc.empty()) {
            EXPECT_LE(glibc, kNewestGlibc) << library << " " << name;
          }
          if (!libgcc.empty()) {
            EXPECT_LE(libgcc, kNewestLibgcc) << library << " " << name;
          }
        }
      }
      EXPECT_FALSE(elf.versions.empty()) << "no symbol versions: not linked against glibc?";
    }
  }
}

TEST(LinuxAudit, VersionsAreComparedAsNumbers) {
  EXPECT_EQ(version_of("GLIBC_2.3.4", "GLIBC_"), (std::vector<int>{2, 3, 4}));
  EXPECT_LT(version_of("GLIBC_2.3.4", "GLIBC_"), version_of("GLIBC_2.17", "GLIBC_"));
  EXPECT_GT(version_of("GLIBC_2.34", "GLIBC_"), kNewestGlibc);
  EXPECT_TRUE(version_of("GLIBCXX_3.4.29", "GLIBC_").empty());
  EXPECT_EQ(version_of("GCC_4.2.0", "GCC_"), kNewestLibgcc);
}

}  // namespace
