// The Identity record the driver delivers: ten fixed-width UCS-2 little-endian fields, and the
// three rules by which the editions turn a field into ANSI text.
#pragma once

#include <cstddef>
#include <string_view>

#include "driver/sdtapi.h"
#include "platform/fixed_text.h"

namespace rec {

// A field's place in a record: byte offset and width in bytes (two bytes per UCS-2 unit).
struct Span {
  int offset;
  int bytes;
  constexpr int units() const { return bytes / 2; }
  constexpr int end() const { return offset + bytes; }
};

enum class Field : int {
  Name,
  Sex,
  Nation,
  Birth,
  Address,
  IdNumber,
  Authority,
  ValidFrom,
  ValidTo,
  Reserved,
};
inline constexpr int kFieldCount = 10;

// The layout, in field order; the fields follow each other without gaps.
inline constexpr Span kFields[kFieldCount] = {
    {0, 30},    // Name: 15 characters
    {30, 2},    // Sex code: 1 digit
    {32, 4},    // Nation code: 2 digits
    {36, 16},   // Birth date: YYYYMMDD
    {52, 70},   // Address: 35 characters
    {122, 36},  // ID number: 18 characters
    {158, 30},  // Issuing authority: 15 characters
    {188, 16},  // Validity start: YYYYMMDD
    {204, 16},  // Validity end: YYYYMMDD
    {220, 36},  // Reserved
};

constexpr Span span(Field field) { return kFields[static_cast<int>(field)]; }

// The year, month and day parts (4, 2 and 2 characters) of a date field.
struct DateParts {
  Span year, month, day;
};
constexpr DateParts date_parts(Field date) {
  const Span s = span(date);
  return {{s.offset, 8}, {s.offset + 8, 4}, {s.offset + 12, 4}};
}

// The appended address: the first 35 characters of the appended-address message.
inline constexpr Span kAppendedAddress = {0, 70};

// The widest span a conversion takes: the Address field and the appended address.
inline constexpr int kWidestSpan = 70;
static_assert(kAppendedAddress.bytes <= kWidestSpan);

// The ANSI text of one field. A UCS-2 unit becomes at most two bytes of a double-byte code page,
// so a span's text is never longer than the span is wide.
using FieldText = plat::FixedText<kWidestSpan + 1>;

// Bytes of a record as the driver delivered them. Bytes at or past `size` read as zero, so a short
// record never makes a conversion read outside it.
struct Bytes {
  const unsigned char* data;
  std::size_t size;
};

// The span's UCS-2 text up to its first NUL unit (or its whole width), converted to ANSI with the
// given Win32 conversion flags.
FieldText ansi_text(Bytes record, Span span, unsigned flags = 0);

// QDX rule: the span's characters converted as they stand (conversion flags 0), padding kept.
FieldText qdx_text(Bytes record, Span span);

// vantrel rule: fills `slot`, span.bytes wide, with the converted text (flags
// WC_COMPOSITECHECK | WC_DEFAULTCHAR) followed by zero bytes; a text that fills the whole width
// has no zero byte. Padding stays in the text.
void vantrel_slot(Bytes record, Span span, char* slot);

// SDT rule: the converted text without its trailing single-byte white space (space, \t, \n, \v,
// \f, \r); a double-byte character is never removed.
FieldText sdt_text(Bytes record, Span span);

// The length of ANSI text without its trailing single-byte white space (the SDT rule's trim).
std::size_t trimmed_length(std::string_view text);

}  // namespace rec
