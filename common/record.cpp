#include "common/record.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace rec {

static_assert([] {
  for (const Span& s : kFields)
    if (s.bytes > kWidestSpan) return false;
  return true;
}(), "every field fits a FieldText");

FieldText ansi_text(Bytes record, Span span, unsigned flags) {
  // Copy the field out, bounded by the record's real size; the rest of the copy stays zero.
  unsigned char units[2 * 64] = {};
  static_assert(sizeof units >= kWidestSpan, "wide enough for the widest span");
  const int width = std::min<int>(span.bytes, sizeof units);
  if (span.offset >= 0 && static_cast<std::size_t>(span.offset) < record.size) {
    const std::size_t available = record.size - static_cast<std::size_t>(span.offset);
    std::memcpy(units, record.data + span.offset, std::min<std::size_t>(width, available));
  }
  int count = 0;
  while (count < width / 2 && (units[2 * count] != 0 || units[2 * count + 1] != 0)) ++count;
  if (count == 0) return {};
  char out[2 * 64];  // a UCS-2 unit never becomes more than two ANSI bytes
  const int written = plat::ucs2_to_ansi(units, count, out, sizeof out, flags);
  return FieldText(std::string_view(out, static_cast<std::size_t>(std::max(written, 0))));
}

FieldText qdx_text(Bytes record, Span span) { return ansi_text(record, span, 0); }

void vantrel_slot(Bytes record, Span span, char* slot) {
  const FieldText text = ansi_text(record, span, plat::kWcCompositeCheck | plat::kWcDefaultChar);
  std::memset(slot, 0, static_cast<std::size_t>(span.bytes));
  std::memcpy(slot, text.c_str(), std::min<std::size_t>(text.size(), span.bytes));
}

std::size_t trimmed_length(std::string_view text) {
  auto is_space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  // A trail byte of a GBK character can never be one of these, since trail bytes start at 0x40.
  std::size_t n = text.size();
  while (n > 0 && is_space(text[n - 1])) --n;
  return n;
}

FieldText sdt_text(Bytes record, Span span) {
  FieldText text = ansi_text(record, span, 0);
  text.truncate(trimmed_length(text));
  return text;
}

}  // namespace rec
