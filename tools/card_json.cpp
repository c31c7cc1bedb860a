// The common card schema: dates as YYYY-MM-DD, sex and nation as names beside their codes, padding
// trimmed, the photo as base64 of the decoded bitmap.
#include "tools/card_json.h"

#include <cstdint>
#include <cstdlib>

#include "common/nation.h"

namespace idcard {

namespace {

using Json = nlohmann::ordered_json;

struct Nation {
  int code;
  const char* name;     // UTF-8
  const char* vantrel;  // the vantrel edition's spelling, UTF-8
};

constexpr Nation kNations[] = {
#define NATION(code, utf8, gbk, vantrel) {code, utf8, vantrel},
#include "common/nation_names.inc"
#undef NATION
};

constexpr std::string_view kNationSuffix = "族";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string iso_date(std::string_view text) {
  static constexpr std::string_view kSeparators[] = {"-", ".", "年", "月", "日"};
  std::string digits;
  for (std::size_t i = 0; i < text.size();) {
    if (is_digit(text[i])) {
      digits += text[i++];
      continue;
    }
    std::size_t skip = 0;
    for (std::string_view sep : kSeparators) {
      if (text.substr(i, sep.size()) == sep) skip = sep.size();
    }
    if (!skip) return std::string(text);
    i += skip;
  }
  if (digits.size() != 8) return std::string(text);
  return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
}

std::optional<int> nation_code(std::string_view text) {
  if (text.size() > kNationSuffix.size() &&
      text.substr(text.size() - kNationSuffix.size()) == kNationSuffix) {
    text.remove_suffix(kNationSuffix.size());
  }
  if (text.empty()) return std::nullopt;
  const std::optional<int> number = nation::whole_decimal(text);
  for (const Nation& n : kNations) {
    if (number ? *number == n.code : text == n.name || text == n.vantrel) return n.code;
  }
  return std::nullopt;
}

const char* nation_name(int code) {
  for (const Nation& n : kNations) {
    if (n.code == code) return n.name;
  }
  return "";
}

std::optional<int> sex_code(std::string_view word) {
  if (word == "男") return 1;
  if (word == "女") return 2;
  return std::nullopt;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

namespace {

std::int32_t le32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(b[at + k]);
  return static_cast<std::int32_t>(v);
}

Json photo_json(const std::string& file) {
  // A bitmap starts with "BM"; its width and height follow the 14-byte file header.
  if (file.size() < 26 || file.compare(0, 2, "BM") != 0) return nullptr;
  return {{"media_type", "image/bmp"},
          {"width", le32(file, 18)},
          {"height", std::abs(le32(file, 22))},
          {"size", file.size()},
          {"base64", base64(file)}};
}

Json text_or_null(const std::string* value) {
  if (!value || value->empty()) return nullptr;
  return *value;
}

}  // namespace

Json card_json(const std::string& edition_name, const Card& card, const std::string& photo_file) {
  auto text = [&card](const char* key) {
    const std::string* v = card.find(key);
    return v ? *v : std::string();
  };
  // The QDX edition writes the validity as one text, "from-to".
  std::string from = text("valid_from"), to = text("valid_to");
  if (const std::string* validity = card.find("validity")) {
    const std::size_t dash = validity->find('-');
    from = validity->substr(0, dash);
    to = dash == std::string::npos ? std::string() : validity->substr(dash + 1);
  }
  const std::string sex = text("sex"), nation = text("nation");
  const std::optional<int> sex_number = sex_code(sex);
  const std::optional<int> nation_number = nation_code(nation);

  auto number = [](std::optional<int> n) { return n ? Json(*n) : Json(nullptr); };
  Json fields = {
      {"name", text("name")},
      {"sex", sex},
      {"sex_code", number(sex_number)},
      {"nation", nation_number ? std::string(nation_name(*nation_number)) : nation},
      {"nation_code", number(nation_number)},
      {"birth", iso_date(text("birth"))},
      {"address", text("address")},
      {"id_number", text("id_number")},
      {"authority", text("authority")},
      {"valid_from", iso_date(from)},
      {"valid_to", iso_date(to)},
      {"appended_address", text_or_null(card.find("appended_address"))},
  };
  Json own = Json::object();
  for (const Field& f : card.fields) own[f.key] = f.value;
  return {{"edition", edition_name},
          {"card", std::move(fields)},
          {"photo", photo_json(photo_file)},
          {"edition_texts", std::move(own)}};
}

const char* failure_name(Failure kind) {
  switch (kind) {
    case Failure::NoReader:
      return "no_reader";
    case Failure::NoCard:
      return "no_card";
    case Failure::ReadFailed:
      return "read_failed";
    case Failure::Internal:
      break;
  }
  return "internal";
}

Json error_json(const ReadError& e) {
  return {{"error",
           {{"kind", failure_name(e.kind)},
            {"step", e.step},
            {"call", e.call},
            {"code", e.code},
            {"message", e.message}}}};
}

}  // namespace idcard
