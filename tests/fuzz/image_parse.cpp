// The PE and ELF reader on any bytes, as a copy that broke off or a garbled file hands them over:
// it reads nothing outside them (AddressSanitizer), ends for any count it is given, and what it
// gives back holds together: the bounds on names and exports, every named export found by name,
// and a file cut short never reads as more than the whole file says.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tests/fuzz/harness.h"
#include "tools/image/image.h"

namespace {

namespace image = idcard::image;

constexpr std::size_t kMaxName = 512;

void check(const image::Image& img, std::size_t size) {
  FUZZ_CHECK(img.file_size == size, static_cast<long long>(img.file_size));
  if (!img.ok) {
    FUZZ_CHECK(img.format == image::Format::None, static_cast<long long>(img.format));
    FUZZ_CHECK(img.exports.empty() && img.imports.empty() && img.export_names.empty(), 0);
    return;
  }
  FUZZ_CHECK(img.format != image::Format::None, 0);
  FUZZ_CHECK(img.bits == 32 || img.bits == 64, img.bits);
  // Never more exports than the bytes can hold.
  FUZZ_CHECK(img.exports.size() <= size / 4, static_cast<long long>(img.exports.size()));
  for (const image::Export& e : img.exports) {
    FUZZ_CHECK(e.name.size() <= kMaxName, static_cast<long long>(e.name.size()));
    if (!e.name.empty()) FUZZ_CHECK(img.exports_name(e.name), e.ordinal);
  }
  for (const auto& [library, names] : img.imports) {
    FUZZ_CHECK(library.size() <= kMaxName, static_cast<long long>(library.size()));
    for (const std::string& name : names) {
      FUZZ_CHECK(name.size() <= kMaxName, static_cast<long long>(name.size()));
      FUZZ_CHECK(img.imports_name(name), 0);
    }
  }
  FUZZ_CHECK(!image::architecture(img).empty(), 0);
  FUZZ_CHECK(image::same_architecture(img, img), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const unsigned char> bytes(data, size);
  const image::Image whole = image::parse(bytes);
  check(whole, size);
  // The same file cut short: whatever its headers still say agrees with the whole file.
  for (const std::size_t cut : {size / 2, size > 64 ? size - 64 : 0}) {
    const image::Image part = image::parse(bytes.first(cut));
    check(part, cut);
    if (!part.ok) continue;
    FUZZ_CHECK(whole.ok, static_cast<long long>(cut));
    FUZZ_CHECK(part.format == whole.format && part.machine == whole.machine &&
                   part.bits == whole.bits,
               static_cast<long long>(cut));
  }
  return 0;
}
