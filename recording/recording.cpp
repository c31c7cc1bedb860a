#include "recording/recording.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/record.h"
#include "driver/sdtapi.h"

namespace recording {
namespace {

using nlohmann::ordered_json;

const char* const kEntryNames[SIM_ENTRY_COUNT] = {
#define REC_ENTRY_NAME(Name, NAME, prefixes, parameters, arguments) #Name,
    RIDEL_DRIVER_ENTRY_POINTS(REC_ENTRY_NAME)
#undef REC_ENTRY_NAME
};
const char* const kLibraryNames[SIM_LIB_COUNT] = {"sdtapi", "stdapi", "WltRS"};

// The buffers a call fills: how many bytes of each a recording keeps, and the Count argument that
// tells how many of them the driver wrote (the keep is then the smaller of the two). The sizes are
// the contract's (driver/sdtapi.h); StartFindIDCard and SelectIDCard fill buffers
// whose contents nobody reads, kept as far as the smallest buffer an edition gives (4 and 8).
struct Buffer {
  int entry;
  const char* name;
  int capacity;
  const char* length;
  bool text;  // zero-terminated: kept up to its terminator
};
constexpr Buffer kBuffers[] = {
    {SIM_GET_SAM_ID, "id", drv::kSamIdBytes, nullptr, false},
    {SIM_GET_SAM_ID_TO_STR, "text", drv::kSamIdTextBytes, nullptr, true},
    {SIM_START_FIND_ID_CARD, "buffer", 4, nullptr, false},
    {SIM_SELECT_ID_CARD, "buffer", 8, nullptr, false},
    {SIM_READ_BASE_MSG, "text", drv::kIdentityBytes, "text_length", false},
    {SIM_READ_BASE_MSG, "photo", drv::kPhotoBytes, "photo_length", false},
    {SIM_READ_MNG_INFO, "info", drv::kManagementInfoBytes, nullptr, false},
    {SIM_READ_NEW_APP_MSG, "message", drv::kAppendedAddressBytes, "length", false},
};

const Buffer* find_buffer(int entry, const std::string& name) {
  for (const Buffer& b : kBuffers)
    if (b.entry == entry && name == b.name) return &b;
  return nullptr;
}

// The largest value a call may hand back through its Count argument `name`: the capacity of the
// buffer it measures, any unsigned value for GetCOMBaud's rate; 0 when the call has no such
// argument.
std::uint64_t count_limit(int entry, const std::string& name) {
  if (entry == SIM_GET_COM_BAUD && name == "baud") return std::numeric_limits<unsigned>::max();
  for (const Buffer& b : kBuffers)
    if (b.entry == entry && b.length && name == b.length) return static_cast<std::uint64_t>(b.capacity);
  return 0;
}

// Whether a JSON integer fits a 32-bit int, as statuses and the integer arguments are.
bool fits_int(const ordered_json& value) {
  if (value.is_number_unsigned())
    return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<int>::max());
  const std::int64_t v = value.get<std::int64_t>();
  return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

// Whether a JSON integer is a value of a 32-bit parameter, signed or unsigned.
bool fits_32_bits(const ordered_json& value) {
  if (value.is_number_unsigned())
    return value.get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max();
  return value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min();
}

bool success(int status) {
  return status == drv::kOk || status == drv::kCardFound || status == drv::kNoAppendedAddress;
}

// The argument that is GetBmp's photo path (its only Text argument).
bool is_path(int entry, const Arg& a) { return entry == SIM_GET_BMP && a.kind == Kind::Text; }

std::string file_name_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// ---- Text of a JSON line ------------------------------------------------------------------------

std::string hex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

std::optional<Bytes> unhex(const std::string& text) {
  if (text.size() % 2) return std::nullopt;
  Bytes out(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i / 2] = static_cast<unsigned char>(high << 4 | low);
  }
  return out;
}

// A path is bytes of the system's code page, not always UTF-8: each byte becomes the character of
// that number (U+0000 to U+00FF), so that the line stays valid JSON and ASCII paths stay readable.
std::string bytes_as_text(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else {
      out += static_cast<char>(0xC0 | b >> 6);
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::optional<std::string> text_as_bytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3F));
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// ---- Synthetic card data ------------------------------------------------------------------------

enum class Policy { Keep, Words, Digits };

struct FieldPolicy {
  rec::Field field;
  Policy policy;
  const char16_t* digits;  // Digits: the synthetic digits, by position
};
constexpr FieldPolicy kPolicies[] = {
    {rec::Field::Name, Policy::Words, u""},
    {rec::Field::Sex, Policy::Keep, u""},
    {rec::Field::Nation, Policy::Keep, u""},
    {rec::Field::Birth, Policy::Digits, u"19800101"},
    {rec::Field::Address, Policy::Words, u""},
    {rec::Field::IdNumber, Policy::Digits, u"000000198001010000"},
    {rec::Field::Authority, Policy::Words, u""},
    {rec::Field::ValidFrom, Policy::Digits, u"20200101"},
    {rec::Field::ValidTo, Policy::Digits, u"20400101"},
    {rec::Field::Reserved, Policy::Keep, u""},
};
constexpr char16_t kFiller[] = u"测试样例数据";

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t synthetic_unit(char16_t c, int i, Policy policy, const char16_t* digits) {
  if (policy == Policy::Keep) return c;
  if (is_digit(c)) {
    const std::size_t n = std::char_traits<char16_t>::length(digits);
    return static_cast<std::size_t>(i) < n && is_digit(digits[i])
               ? digits[i]
               : static_cast<char16_t>(u'0' + i % 10);
  }
  if (policy == Policy::Digits) return c;  // 'X' of an ID number, a long-term validity's text
  if (c >= u'A' && c <= u'Z') return u'X';
  if (c >= u'a' && c <= u'z') return u'x';
  if (c >= 0x4E00 && c <= 0x9FFF) return kFiller[i % (std::size(kFiller) - 1)];
  return c;  // blanks, zeros, punctuation: the structure
}

// Rewrites `units` UCS-2 little-endian characters from byte `offset` on, within the bytes there.
void synthetic_text(Bytes& bytes, int offset, int units, Policy policy, const char16_t* digits) {
  for (int i = 0; i < units; ++i) {
    const std::size_t at = static_cast<std::size_t>(offset + 2 * i);
    if (at + 1 >= bytes.size()) return;
    const char16_t c = static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8);
    const char16_t s = synthetic_unit(c, i, policy, digits);
    bytes[at] = static_cast<unsigned char>(s & 0xFF);
    bytes[at + 1] = static_cast<unsigned char>(s >> 8);
  }
}

// Fixed bytes of the same length, different for each kind of record.
void synthetic_bytes(Bytes& bytes, std::uint32_t seed) {
  std::uint32_t x = seed;
  for (unsigned char& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
}

}  // namespace

std::vector<std::string> split_names(const char* names) {
  std::vector<std::string> out;
  std::string current;
  for (const char* p = names ? names : ""; *p; ++p) {
    if (*p == ',') {
      out.push_back(current);
      current.clear();
    } else if (*p != '(' && *p != ')' && *p != ' ') {
      current += *p;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

std::string call_name(int prefix, int entry) {
  std::string name = prefix == SIM_PREFIX_QDX ? "QDX_" : prefix == SIM_PREFIX_SDT ? "SDT_" : "";
  return name + (entry >= 0 && entry < SIM_ENTRY_COUNT ? kEntryNames[entry] : "?");
}

const char* library_name(int library) {
  return library >= 0 && library < SIM_LIB_COUNT ? kLibraryNames[library] : "?";
}

int entry_number(std::string_view name) {
  for (int e = 0; e < SIM_ENTRY_COUNT; ++e)
    if (name == kEntryNames[e]) return e;
  return -1;
}

std::string describe(const Call& call) {
  std::string line = std::string(library_name(call.library)) + " " +
                     call_name(call.prefix, call.entry) + "(";
  bool first = true;
  for (const auto& [name, value] : call.args) {
    line += first ? "" : ", ";
    first = false;
    line += name + " " + std::to_string(value);
  }
  for (const auto& [name, given] : call.pointers) {
    line += first ? "" : ", ";
    first = false;
    line += name + (given ? "" : " null");
  }
  if (call.path) line += std::string(first ? "" : ", ") + "path " + bytes_as_text(*call.path);
  return line + ")";
}

void take_arguments(Call& call, const std::vector<Arg>& args) {
  for (const Arg& a : args) {
    if (a.kind == Kind::Integer) {
      call.args.emplace_back(a.name, a.value);
    } else if (is_path(call.entry, a)) {
      if (a.pointer) call.path = static_cast<const char*>(a.pointer);
    } else {
      call.pointers.emplace_back(a.name, a.pointer != nullptr);
    }
  }
}

void capture(Call& call, const std::vector<Arg>& args) {
  for (const Arg& a : args) {
    if (a.kind == Kind::Count && a.pointer) call.counts[a.name] = *static_cast<unsigned*>(a.pointer);
  }
  if (!success(call.status)) return;
  for (const Arg& a : args) {
    const Buffer* b = a.pointer ? find_buffer(call.entry, a.name) : nullptr;
    if (!b) continue;
    std::size_t n = static_cast<std::size_t>(b->capacity);
    if (b->length) {
      const auto count = call.counts.find(b->length);
      n = count == call.counts.end() ? 0 : drv::bounded(count->second, n);
    }
    const unsigned char* p = static_cast<const unsigned char*>(a.pointer);
    if (b->text) {
      const std::size_t length = strnlen(static_cast<const char*>(a.pointer), n);
      n = length < n ? length + 1 : n;  // with its terminator
    }
    call.bytes[a.name] = Bytes(p, p + n);
  }
}

void hand_back(const Call& recorded, const std::vector<Arg>& args) {
  for (const Arg& a : args) {
    if (!a.pointer) continue;
    if (a.kind == Kind::Count) {
      const auto count = recorded.counts.find(a.name);
      if (count != recorded.counts.end()) *static_cast<unsigned*>(a.pointer) = count->second;
      continue;
    }
    const Buffer* b = find_buffer(recorded.entry, a.name);
    const auto bytes = recorded.bytes.find(a.name);
    if (!b || bytes == recorded.bytes.end()) continue;
    const std::size_t n = std::min(bytes->second.size(), static_cast<std::size_t>(b->capacity));
    if (n) std::memcpy(a.pointer, bytes->second.data(), n);
  }
}

int port_of(const Call& call) {
  for (const auto& [name, value] : call.args)
    if (name == "port") return static_cast<int>(value);
  return 0;
}

// The last parameter when it is an integer other than the port: the driver's flag, ANT's value,
// SetCOMBaud's wanted rate, GetBmp's selector.
int value_of(const Call& call) {
  if (call.args.empty()) return 0;
  const auto& [name, value] = call.args.back();
  return name == "port" ? 0 : static_cast<int>(value);
}

bool same_call(const Call& recorded, const Call& came) {
  if (recorded.library != came.library || recorded.prefix != came.prefix ||
      recorded.entry != came.entry || recorded.args != came.args ||
      recorded.pointers != came.pointers || recorded.path.has_value() != came.path.has_value())
    return false;
  return !recorded.path || file_name_of(*recorded.path) == file_name_of(*came.path);
}

void make_synthetic(Call& call) {
  call.card_data_kept = false;
  for (auto& [name, bytes] : call.bytes) {
    if (call.entry == SIM_READ_BASE_MSG && name == "text") {
      for (const FieldPolicy& f : kPolicies) {
        const rec::Span s = rec::span(f.field);
        synthetic_text(bytes, s.offset, s.units(), f.policy, f.digits);
      }
    } else if (call.entry == SIM_READ_BASE_MSG && name == "photo") {
      synthetic_bytes(bytes, 0x9E3779B9u);
    } else if (call.entry == SIM_READ_MNG_INFO) {
      synthetic_bytes(bytes, 0x85EBCA6Bu);
    } else if (call.entry == SIM_READ_NEW_APP_MSG) {
      synthetic_text(bytes, 0, static_cast<int>(bytes.size() / 2), Policy::Words, u"");
    }
  }
}

std::string to_line(const Call& call) {
  ordered_json line;
  line["process"] = call.process;
  line["library"] = library_name(call.library);
  line["call"] = call_name(call.prefix, call.entry);
  ordered_json args = ordered_json::object();
  for (const auto& [name, value] : call.args) args[name] = value;
  for (const auto& [name, given] : call.pointers) args[name] = given;
  if (call.path) args["path"] = bytes_as_text(*call.path);
  line["args"] = std::move(args);
  line["status"] = call.status;
  if (!call.counts.empty()) line["counts"] = call.counts;
  if (!call.bytes.empty()) {
    ordered_json bytes = ordered_json::object();
    for (const auto& [name, value] : call.bytes) bytes[name] = hex(value);
    line["bytes"] = std::move(bytes);
  }
  line["card_data"] = call.card_data_kept ? "kept" : "synthetic";
  line["microseconds"] = call.microseconds;
  if (call.bitmap) line["bitmap_written"] = *call.bitmap;
  if (!call.note.empty()) line["note"] = call.note;
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

namespace {

// A warning line of the recording driver: no call.
bool is_warning(const ordered_json& line) {
  return line.is_object() && line.contains("warning") && !line.contains("call");
}

std::optional<Call> from_object(const ordered_json& line, std::string* error) {
  const auto fail = [&](const std::string& why) {
    *error = why;
    return std::nullopt;
  };
  if (!line.is_object()) return fail("not a JSON object");
  Call call;
  const auto library = line.find("library");
  if (library == line.end() || !library->is_string()) return fail("library: a name expected");
  call.library = -1;
  for (int l = 0; l < SIM_LIB_COUNT; ++l)
    if (library->get<std::string>() == kLibraryNames[l]) call.library = l;
  if (call.library < 0) return fail("library: unknown " + library->dump());
  const auto name = line.find("call");
  if (name == line.end() || !name->is_string()) return fail("call: a name expected");
  std::string entry = name->get<std::string>();
  if (entry.rfind("QDX_", 0) == 0) call.prefix = SIM_PREFIX_QDX;
  if (entry.rfind("SDT_", 0) == 0) call.prefix = SIM_PREFIX_SDT;
  if (call.prefix != SIM_PREFIX_NONE) entry.erase(0, 4);
  call.entry = entry_number(entry);
  if (call.entry < 0) return fail("call: unknown " + name->dump());
  const auto status = line.find("status");
  if (status == line.end() || !status->is_number_integer()) return fail("status: an integer expected");
  if (!fits_int(*status)) return fail("status: " + status->dump() + " is out of range");
  call.status = status->get<int>();
  if (const auto args = line.find("args"); args != line.end() && args->is_object()) {
    for (const auto& [key, value] : args->items()) {
      if (key == "path" && value.is_string()) {
        call.path = text_as_bytes(value.get<std::string>());
        if (!call.path) return fail("args.path: not a path as recordings write it");
      } else if (value.is_boolean()) {
        call.pointers.emplace_back(key, value.get<bool>());
      } else if (value.is_number_integer() && fits_32_bits(value)) {
        call.args.emplace_back(key, value.get<std::int64_t>());
      } else {
        return fail("args." + key + ": a 32-bit integer or true/false expected");
      }
    }
  }
  const std::string shown = call_name(call.prefix, call.entry);
  if (const auto counts = line.find("counts"); counts != line.end() && counts->is_object()) {
    for (const auto& [key, value] : counts->items()) {
      const std::uint64_t most = count_limit(call.entry, key);
      if (most == 0) return fail("counts." + key + ": " + shown + " hands back no such length");
      if (!value.is_number_unsigned()) return fail("counts." + key + ": a length expected");
      if (value.get<std::uint64_t>() > most) {
        return fail("counts." + key + ": " + value.dump() + ", at most " + std::to_string(most));
      }
      call.counts[key] = value.get<unsigned>();
    }
  }
  if (const auto bytes = line.find("bytes"); bytes != line.end() && bytes->is_object()) {
    for (const auto& [key, value] : bytes->items()) {
      const Buffer* buffer = find_buffer(call.entry, key);
      if (!buffer) return fail("bytes." + key + ": " + shown + " fills no such buffer");
      std::optional<Bytes> b = value.is_string() ? unhex(value.get<std::string>()) : std::nullopt;
      if (!b) return fail("bytes." + key + ": hex digits expected");
      if (b->size() > static_cast<std::size_t>(buffer->capacity)) {
        return fail("bytes." + key + ": " + std::to_string(b->size()) + " bytes, at most " +
                    std::to_string(buffer->capacity));
      }
      call.bytes[key] = std::move(*b);
    }
  }
  // The keys that say how the call was recorded: each of its own type when it is there.
  const auto optional_key = [&](const char* key, auto is_type) {
    const auto found = line.find(key);
    return found == line.end() || is_type(*found);
  };
  const auto is_string = [](const ordered_json& v) { return v.is_string(); };
  const auto is_integer = [](const ordered_json& v) { return v.is_number_integer(); };
  const auto is_boolean = [](const ordered_json& v) { return v.is_boolean(); };
  if (!optional_key("card_data", is_string)) return fail("card_data: \"kept\" or \"synthetic\" expected");
  if (!optional_key("microseconds", is_integer)) return fail("microseconds: an integer expected");
  if (!optional_key("process", is_integer)) return fail("process: an integer expected");
  if (!optional_key("note", is_string)) return fail("note: a text expected");
  if (!optional_key("bitmap_written", is_boolean)) return fail("bitmap_written: true or false expected");
  call.card_data_kept = line.value("card_data", std::string()) == "kept";
  call.microseconds = line.value("microseconds", std::int64_t{0});
  call.process = line.value("process", std::int64_t{0});
  call.note = line.value("note", std::string());
  if (const auto bitmap = line.find("bitmap_written"); bitmap != line.end())
    call.bitmap = bitmap->get<bool>();
  return call;
}

}  // namespace

std::string warning_line(std::int64_t process, const std::string& warning) {
  ordered_json line;
  line["process"] = process;
  line["warning"] = warning;
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::optional<Call> from_line(std::string_view text, std::string* error) {
  return from_object(ordered_json::parse(text.begin(), text.end(), nullptr, false), error);
}

std::optional<std::vector<Call>> parse(std::string_view text, std::string* error) {
  std::vector<Call> calls;
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const ordered_json object = ordered_json::parse(line.begin(), line.end(), nullptr, false);
    if (is_warning(object)) continue;
    std::string why;
    std::optional<Call> call = from_object(object, &why);
    if (!call) {
      *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
    calls.push_back(std::move(*call));
  }
  return calls;
}

}  // namespace recording
