#include "tools/reader/messages.h"

#include <charconv>

#include "tools/card/schema.h"

namespace idcard::reader {

namespace {

// The longest header: a kind and a length of at most ten digits.
constexpr std::size_t kMaxHeader = 32;

// The static key of a field, as the editions' descriptors name it; nullptr for any other.
const char* field_key(std::string_view key) {
  for (const EditionInfo& e : editions()) {
    for (const Getter& g : e.getters)
      if (key == g.key) return g.key;
    for (const FileFields& f : e.files)
      for (const char* k : f.keys)
        if (key == k) return k;
  }
  return nullptr;
}

Failure failure_of(std::string_view name) {
  for (Failure f : {Failure::NoReader, Failure::NoCard, Failure::ReadFailed})
    if (name == failure_name(f)) return f;
  return Failure::Internal;
}

template <class T>
T value_or(const Json& d, const char* key, T fallback) {
  const auto it = d.find(key);
  if (it == d.end()) return fallback;
  try {
    return it->get<T>();
  } catch (const Json::exception&) {
    return fallback;
  }
}

}  // namespace

std::string frame(std::string_view kind, std::string_view body) {
  std::string out;
  out.reserve(kind.size() + 12 + body.size());
  out.append(kind).append(" ").append(std::to_string(body.size())).append("\n").append(body);
  return out;
}

std::string json_frame(std::string_view kind, const Json& body) { return frame(kind, text_of(body)); }

Parse take_message(std::string& bytes, Message* message) {
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos) return bytes.size() > kMaxHeader ? Parse::Bad : Parse::Incomplete;
  const std::size_t space = bytes.find(' ');
  if (end > kMaxHeader || space == 0 || space >= end) return Parse::Bad;
  std::size_t length = 0;
  const char* first = bytes.data() + space + 1;
  const char* last = bytes.data() + end;
  const auto [ptr, ec] = std::from_chars(first, last, length);
  if (ec != std::errc() || ptr != last || first == last || length > kMaxBody) return Parse::Bad;
  if (bytes.size() - end - 1 < length) return Parse::Incomplete;
  message->kind = bytes.substr(0, space);
  message->body = bytes.substr(end + 1, length);
  bytes.erase(0, end + 1 + length);
  return Parse::Message;
}

std::string text_of(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json parse_json(std::string_view body) { return Json::parse(body, nullptr, false); }

Json options_json(const ReaderOptions& o) {
  return {{"edition", o.edition_name}, {"library", o.library}, {"port", o.port},
          {"mode", o.mode},            {"card", o.card},       {"root", root_folder(o)},
          {"simulator", o.simulator}};
}

bool options_from_json(const Json& d, ReaderOptions* o) {
  if (!d.is_object() || !set_edition(*o, value_or<std::string>(d, "edition", ""))) return false;
  o->library = value_or<std::string>(d, "library", "");
  o->port = value_or<int>(d, "port", o->port);
  o->mode = value_or<int>(d, "mode", 0);
  o->card = value_or<std::string>(d, "card", "");
  o->root = value_or<std::string>(d, "root", "");
  o->simulator = value_or<bool>(d, "simulator", false);
  return true;
}

Json answer_json(const ReadAnswer& a) {
  Json files = Json::array();
  for (const FoundFile& f : a.files) files.push_back({f.first, f.second});
  Json d = {{"ok", a.result.ok}, {"driver", a.driver}, {"library", a.library}, {"files", std::move(files)}};
  if (a.result.ok) {
    Json fields = Json::array();
    for (const Field& f : a.result.card.fields) fields.push_back({f.key, f.value});
    d["fields"] = std::move(fields);
    d["date_separator"] = std::string(a.result.card.date_separator ? 1 : 0, a.result.card.date_separator);
    d["photo"] = a.photo_name;
  } else {
    const ReadError& e = a.result.error;
    d["error"] = {{"kind", failure_name(e.kind)}, {"step", e.step}, {"call", e.call},
                  {"code", e.code},               {"message", e.message}};
    d["log"] = a.log;
  }
  return d;
}

bool answer_from_json(const Json& d, ReadAnswer* a) {
  if (!d.is_object() || !d.contains("ok")) return false;
  a->result.ok = value_or<bool>(d, "ok", false);
  a->driver = value_or<std::string>(d, "driver", "");
  a->library = value_or<std::string>(d, "library", "");
  for (const Json& f : value_or<Json>(d, "files", Json::array())) {
    if (f.is_array() && f.size() == 2 && f[0].is_string() && f[1].is_number_integer())
      a->files.emplace_back(f[0].get<std::string>(), f[1].get<std::int64_t>());
  }
  if (a->result.ok) {
    Card& card = a->result.card;
    for (const Json& f : value_or<Json>(d, "fields", Json::array())) {
      if (!f.is_array() || f.size() != 2 || !f[0].is_string() || !f[1].is_string()) continue;
      if (const char* key = field_key(f[0].get<std::string>())) card.fields.push_back({key, f[1].get<std::string>()});
    }
    const std::string separator = value_or<std::string>(d, "date_separator", "");
    card.date_separator = separator.empty() ? 0 : separator[0];
    a->photo_name = value_or<std::string>(d, "photo", "");
    card.photo = a->photo_name;
    return true;
  }
  const Json e = value_or<Json>(d, "error", Json::object());
  if (!e.is_object()) return false;
  ReadError& error = a->result.error;
  error.kind = failure_of(value_or<std::string>(e, "kind", ""));
  error.step = value_or<std::string>(e, "step", "");
  error.call = value_or<std::string>(e, "call", "");
  error.code = value_or<int>(e, "code", 0);
  // A request the reader process could not answer carries its reason beside "ok".
  error.message = value_or<std::string>(e, "message", value_or<std::string>(d, "message", ""));
  a->log = value_or<std::vector<std::string>>(d, "log", {});
  return true;
}

Json loaded_json(const std::string& driver, const std::string& library, const std::string& notice) {
  Json d = {{"ok", true}, {"driver", driver}, {"library", library}};
  if (!notice.empty()) d["notice"] = notice;
  return d;
}

Json refusal_json(const std::string& message) { return {{"ok", false}, {"message", message}}; }

}  // namespace idcard::reader
