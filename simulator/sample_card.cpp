// The built-in sample card and the helpers that build UCS-2 records from UTF-8 text.
#include <cstdio>

#include "driver/sdtapi.h"
#include "simulator/state.h"

namespace sim {

std::optional<std::u16string> utf8_to_ucs2(std::string_view utf8, std::string* why) {
  auto fail = [&](const char* reason) -> std::optional<std::u16string> {
    if (why) *why = reason;
    return std::nullopt;
  };
  std::u16string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t least = 0;  // the smallest code point this length may encode (no overlong forms)
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, least = 0x10000;
    } else {
      return fail("not valid UTF-8");
    }
    if (i + static_cast<std::size_t>(extra) >= utf8.size()) return fail("not valid UTF-8");
    for (int k = 1; k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) return fail("not valid UTF-8");
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return fail("not valid UTF-8");
    }
    if (cp > 0xFFFF) {
      char reason[64];
      std::snprintf(reason, sizeof reason, "character U+%X is outside UCS-2",
                    static_cast<unsigned>(cp));
      if (why) *why = reason;
      return std::nullopt;
    }
    out.push_back(static_cast<char16_t>(cp));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

void put_ucs2(Bytes& record, int offset, int units, std::u16string_view text) {
  for (int k = 0; k < units; ++k) {
    const char16_t c = k < static_cast<int>(text.size()) ? text[static_cast<std::size_t>(k)] : u' ';
    record[static_cast<std::size_t>(offset + 2 * k)] = static_cast<unsigned char>(c & 0xFF);
    record[static_cast<std::size_t>(offset + 2 * k + 1)] = static_cast<unsigned char>(c >> 8);
  }
}

const char* entry_name(int entry) {
  static const char* const kNames[SIM_ENTRY_COUNT] = {
#define SIM_ENTRY_NAME(Name, NAME, prefixes, parameters, arguments) #Name,
      RIDEL_DRIVER_ENTRY_POINTS(SIM_ENTRY_NAME)
#undef SIM_ENTRY_NAME
  };
  return entry >= 0 && entry < SIM_ENTRY_COUNT ? kNames[entry] : nullptr;
}

namespace {

// The sample card's text fields as UTF-8, in record field order. Every value is invented.
constexpr const char* kSampleFields[rec::kFieldCount] = {
    "陈志远",                                                          // name
    "1",                                                               // sex: male
    "01",                                                              // nation
    "19880808",                                                        // birth date
    "广东省广州市天河区云杉东路一百六十八号锦华花园七栋二单元五零三房",  // address, 32 chars
    "44010619880808107X",                                              // ID number
    "广州市公安局天河分局",                                            // issuing authority
    "20150101",                                                        // validity start
    "20350101",                                                        // validity end
    "",                                                                // reserved: blanks
};
constexpr const char kSampleAppendedAddress[] = "广东省广州市海珠区榕荫南路二十二号";
constexpr const char kSampleSamIdText[] = "0511-20180418-0000036512-0000123456";

std::u16string ucs2_literal(const char* utf8) {
  // The literals above are valid UTF-8 within UCS-2; an empty text marks a broken literal.
  return utf8_to_ucs2(utf8, nullptr).value_or(std::u16string());
}

// Deterministic filler bytes (a small linear congruential generator).
Bytes pattern_bytes(std::size_t size, unsigned seed) {
  Bytes out(size);
  unsigned x = seed;
  for (unsigned char& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
  return out;
}

}  // namespace

Reader sample_reader() {
  Reader r;
  r.port = drv::kFirstUsbPort;

  Bytes identity(drv::kIdentityBytes, 0);
  for (int f = 0; f < rec::kFieldCount; ++f) {
    put_ucs2(identity, rec::kFields[f].offset, rec::kFields[f].units(),
             ucs2_literal(kSampleFields[f]));
  }
  r.records[SIM_REC_IDENTITY] = std::move(identity);

  r.records[SIM_REC_PHOTO] = pattern_bytes(drv::kPhotoBytes, 0x5EED1024u);

  Bytes appended(drv::kAppendedAddressBytes, 0);
  put_ucs2(appended, rec::kAppendedAddress.offset, rec::kAppendedAddress.units(),
           ucs2_literal(kSampleAppendedAddress));
  r.records[SIM_REC_APPENDED_ADDRESS] = std::move(appended);

  r.records[SIM_REC_MNG_INFO] = pattern_bytes(drv::kManagementInfoBytes, 0x28u);
  r.records[SIM_REC_SAM_ID] = {0x05, 0x11, 0x20, 0x18, 0x04, 0x18, 0x00, 0x03,
                               0x65, 0x12, 0x00, 0x12, 0x34, 0x56, 0x9A, 0xBC};
  r.records[SIM_REC_SAM_ID_TEXT] =
      Bytes(kSampleSamIdText, kSampleSamIdText + sizeof kSampleSamIdText);  // with its NUL
  return r;
}

}  // namespace sim
