// Dates as YYYY-MM-DD, sex and nation as names beside their codes, padding trimmed, the photo as
// base64 of the decoded bitmap.
#include "tools/card/schema.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/card/conversions.h"

namespace idcard {

namespace {

using Json = nlohmann::ordered_json;

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

Json number_or_null(std::optional<int> n) { return n ? Json(*n) : Json(nullptr); }

std::string text_of(const Card& card, const char* key) {
  const std::string* v = card.find(key);
  return v ? *v : std::string();
}

// The validity as two texts; the QDX edition writes it as one, "from-to".
std::pair<std::string, std::string> validity(const Card& card) {
  const std::string* whole = card.find("validity");
  if (!whole) return {text_of(card, "valid_from"), text_of(card, "valid_to")};
  const std::size_t dash = whole->find('-');
  return {whole->substr(0, dash), dash == std::string::npos ? "" : whole->substr(dash + 1)};
}

Json fields_json(const Card& card) {
  const auto [from, to] = validity(card);
  const std::string sex = text_of(card, "sex"), nation = text_of(card, "nation");
  const std::optional<int> nation_number = nation_code(nation);
  const char sep = card.date_separator;
  return {
      {"name", text_of(card, "name")},
      {"sex", sex},
      {"sex_code", number_or_null(sex_code(sex))},
      {"nation", nation_number ? std::string(nation_name(*nation_number)) : nation},
      {"nation_code", number_or_null(nation_number)},
      {"birth", date_field(text_of(card, "birth"), sep)},
      {"address", text_of(card, "address")},
      {"id_number", text_of(card, "id_number")},
      {"authority", text_of(card, "authority")},
      {"valid_from", date_field(from, sep)},
      {"valid_to", date_field(to, sep)},
      {"appended_address", text_or_null(card.find("appended_address"))},
  };
}

}  // namespace

Json card_json(const std::string& edition_name, const Card& card, const std::string& photo_file) {
  Json own = Json::object();
  for (const Field& f : card.fields) own[f.key] = f.value;
  return {{"edition", edition_name},
          {"card", fields_json(card)},
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
  Json doc = error_json(failure_name(e.kind), e.step, e.call, e.message);
  doc["error"]["code"] = e.code;
  return doc;
}

Json error_json(const char* kind, const std::string& step, const std::string& call,
                const std::string& message) {
  return {{"error",
           {{"kind", kind}, {"step", step}, {"call", call}, {"code", nullptr}, {"message", message}}}};
}

namespace {

std::string serialize(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Whether a text is base64 alone: it needs no escaping in a JSON string.
bool is_base64_text(const std::string& text) {
  static constexpr auto kBase64 = [] {
    std::array<bool, 256> table{};
    for (const char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="))
      table[static_cast<unsigned char>(c)] = true;
    return table;
  }();
  for (const char c : text) {
    if (!kBase64[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

}  // namespace

std::string dump(const Json& document) {
  // The photo's base64 is most of a card's document. The serializer would check and escape it
  // character by character, which costs more than the whole read: it is spliced in as it stands.
  const auto photo = document.is_object() ? document.find("photo") : document.end();
  if (photo == document.end() || !photo->is_object()) return serialize(document);
  const auto data = photo->find("base64");
  if (data == photo->end() || !data->is_string() || !is_base64_text(data->get_ref<const std::string&>()))
    return serialize(document);
  Json rest = document;
  rest["photo"]["base64"] = "";
  std::string text = serialize(rest);
  // Every quote inside a string is escaped: the first unescaped key "base64" with an empty value
  // after the key "photo" is the photo's.
  const std::size_t at = text.find("\"base64\":\"\"", text.find("\"photo\":{"));
  if (at == std::string::npos) return serialize(document);
  text.insert(at + 10, data->get_ref<const std::string&>());
  return text;
}

}  // namespace idcard
