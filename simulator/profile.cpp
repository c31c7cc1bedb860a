// Card profiles: a JSON file naming the card's fields, photo, appended address, SAM ID, the reader's
// port and faults. Every key is optional; what a profile leaves out keeps the sample card's value.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>

#include "driver/sdtapi.h"
#include "platform/platform.h"
#include "recording/recording.h"
#include "simulator/state.h"

namespace sim {
namespace {

using nlohmann::json;

// Profiles are small; anything bigger is not one.
constexpr std::size_t kMaxProfileBytes = 1 << 20;
// GetSAMIDToStr writes at most drv::kSamIdTextBytes, the terminator included.
constexpr std::size_t kMaxSamIdChars = drv::kSamIdTextBytes - 1;

struct TextKey {
  const char* key;
  rec::Field field;
};
constexpr TextKey kTextKeys[] = {
    {"name", rec::Field::Name},           {"sex", rec::Field::Sex},
    {"nation", rec::Field::Nation},       {"birth", rec::Field::Birth},
    {"address", rec::Field::Address},     {"id_number", rec::Field::IdNumber},
    {"authority", rec::Field::Authority}, {"valid_from", rec::Field::ValidFrom},
    {"valid_to", rec::Field::ValidTo},    {"reserved", rec::Field::Reserved},
};

// Parses into a Reader, keeping the first error as "<field>: <what is wrong>".
class Parser {
 public:
  Parser(Reader& out, const std::string& folder) : out_(out), folder_(folder) {}
  const std::string& error() const { return error_; }

  bool document(const json& doc) {
    if (!doc.is_object()) return fail("profile", "a JSON object expected");
    for (const auto& [key, value] : doc.items()) {
      if (!member(key, value)) return false;
    }
    return true;
  }

 private:
  bool fail(const std::string& field, const std::string& what) {
    error_ = field + ": " + what;
    return false;
  }

  bool member(const std::string& key, const json& value) {
    for (const TextKey& t : kTextKeys) {
      if (key == t.key) return text_field(key, value, rec::span(t.field));
    }
    if (key == "port") return integer(key, value, out_.port);
    if (key == "appended_address") return appended_address(key, value);
    if (key == "photo") return photo(key, value);
    if (key == "sam_id") return sam_id(key, value);
    if (key == "faults") return faults(key, value);
    if (key == "card_on_reader") return boolean(key, value, out_.card_on_reader);
    if (key == "hides_read_card") return boolean(key, value, out_.hides_read_card);
    if (key == "replay") return replay(key, value);
    return fail(key, "unknown key");
  }

  bool integer(const std::string& field, const json& value, int& out) {
    if (!value.is_number_integer()) return fail(field, "an integer expected");
    const bool in_range =
        value.is_number_unsigned()
            ? value.get<std::uint64_t>() <=
                  static_cast<std::uint64_t>(std::numeric_limits<int>::max())
            : value.get<std::int64_t>() >= std::numeric_limits<int>::min() &&
                  value.get<std::int64_t>() <= std::numeric_limits<int>::max();
    if (!in_range) return fail(field, value.dump() + " is out of range");
    out = value.get<int>();
    return true;
  }

  bool boolean(const std::string& field, const json& value, bool& out) {
    if (!value.is_boolean()) return fail(field, "true or false expected");
    out = value.get<bool>();
    return true;
  }

  // The value as UCS-2 of at most `units` characters.
  bool ucs2_text(const std::string& field, const json& value, int units, std::u16string& out) {
    if (!value.is_string()) return fail(field, "a string expected");
    std::string why;
    auto text = utf8_to_ucs2(value.get_ref<const std::string&>(), &why);
    if (!text) return fail(field, why);
    if (text->size() > static_cast<std::size_t>(units)) {
      return fail(field, std::to_string(text->size()) + " characters, at most " +
                             std::to_string(units));
    }
    out = std::move(*text);
    return true;
  }

  bool text_field(const std::string& field, const json& value, rec::Span span) {
    std::u16string text;
    if (!ucs2_text(field, value, span.units(), text)) return false;
    put_ucs2(out_.records[SIM_REC_IDENTITY], span.offset, span.units(), text);
    return true;
  }

  bool appended_address(const std::string& field, const json& value) {
    Bytes& record = out_.records[SIM_REC_APPENDED_ADDRESS];
    if (value.is_null()) {
      record.clear();  // no appended address: ReadNewAppMsg gives 0x91
      return true;
    }
    if (!value.is_string()) return fail(field, "a string or null expected");
    std::u16string text;
    if (!ucs2_text(field, value, rec::kAppendedAddress.units(), text)) return false;
    record.assign(drv::kAppendedAddressBytes, 0);
    put_ucs2(record, rec::kAppendedAddress.offset, rec::kAppendedAddress.units(), text);
    return true;
  }

  bool photo(const std::string& field, const json& value) {
    if (!value.is_string()) return fail(field, "a string of hex digits expected");
    const std::string& hex = value.get_ref<const std::string&>();
    const std::size_t wanted = 2 * static_cast<std::size_t>(drv::kPhotoBytes);
    if (hex.size() != wanted) {
      return fail(field, std::to_string(hex.size()) + " hex digits, exactly " +
                             std::to_string(wanted) + " expected");
    }
    Bytes bytes(static_cast<std::size_t>(drv::kPhotoBytes));
    for (std::size_t i = 0; i < hex.size(); ++i) {
      const int d = recording::hex_digit(hex[i]);
      if (d < 0) return fail(field, "not a hex digit at position " + std::to_string(i));
      bytes[i / 2] = static_cast<unsigned char>(i % 2 ? bytes[i / 2] | d : d << 4);
    }
    out_.records[SIM_REC_PHOTO] = std::move(bytes);
    return true;
  }

  bool sam_id(const std::string& field, const json& value) {
    if (!value.is_string()) return fail(field, "a string expected");
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > kMaxSamIdChars) {
      return fail(field, std::to_string(text.size()) + " bytes, at most " +
                             std::to_string(kMaxSamIdChars));
    }
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    out_.records[SIM_REC_SAM_ID_TEXT] = std::move(bytes);
    return true;
  }

  static bool absolute(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\' ||
                             (path.size() > 1 && path[1] == ':'));
  }

  // A recording to play back; relative to the profile's folder.
  bool replay(const std::string& field, const json& value) {
    if (!value.is_string() || value.get_ref<const std::string&>().empty())
      return fail(field, "the path of a recording expected");
    const std::string& path = value.get_ref<const std::string&>();
    Replay r;
    std::string error;
    if (!read_recording(absolute(path) ? path : folder_ + path, r, error)) {
      error_ = error;
      out_.replay = std::move(r);
      out_.replay->refused = error;
      return false;
    }
    out_.replay = std::move(r);
    return true;
  }

  bool faults(const std::string& field, const json& value) {
    if (!value.is_object()) return fail(field, "an object expected");
    for (const auto& [key, item] : value.items()) {
      const std::string name = field + "." + key;
      bool ok;
      if (key == "no_card") {
        ok = boolean(name, item, out_.faults.no_card);
      } else if (key == "sam_not_answering") {
        ok = boolean(name, item, out_.faults.sam_not_answering);
      } else if (key == "decoder_result") {
        ok = integer(name, item, out_.decoder_result);
      } else if (key == "status") {
        ok = statuses(name, item);
      } else if (key == "hang") {
        ok = hangs(name, item);
      } else if (key == "crash") {
        ok = crashes(name, item);
      } else if (key == "strikes") {
        int strikes = 0;
        ok = integer(name, item, strikes) &&
             (strikes >= 1 || fail(name, item.dump() + " is out of range, at least 1"));
        if (ok) out_.faults.strikes = static_cast<unsigned>(strikes);
      } else {
        ok = fail(name, "unknown key");
      }
      if (!ok) return false;
    }
    return true;
  }

  // An object of "<entry point>": <value> pairs, each value handed to `take` with the entry
  // point's number and the pair's field name.
  template <class Take>
  bool per_entry_point(const std::string& field, const json& value, Take take) {
    if (!value.is_object()) return fail(field, "an object expected");
    for (const auto& [key, item] : value.items()) {
      const std::string name = field + "." + key;
      int entry = 0;
      while (entry < SIM_ENTRY_COUNT && key != entry_name(entry)) ++entry;
      if (entry == SIM_ENTRY_COUNT) return fail(name, "unknown entry point");
      if (!take(entry, name, item)) return false;
    }
    return true;
  }

  bool statuses(const std::string& field, const json& value) {
    return per_entry_point(field, value, [&](int entry, const std::string& name, const json& item) {
      int status = 0;
      if (!integer(name, item, status)) return false;
      out_.script.persistent[{entry, SIM_ANY_PORT}] = status;
      return true;
    });
  }

  bool hangs(const std::string& field, const json& value) {
    return per_entry_point(field, value, [&](int entry, const std::string& name, const json& item) {
      int milliseconds = 0;
      if (!integer(name, item, milliseconds)) return false;
      if (milliseconds < 0) return fail(name, item.dump() + " is out of range, at least 0");
      out_.faults.hang[entry] = static_cast<unsigned>(milliseconds);
      return true;
    });
  }

  bool crashes(const std::string& field, const json& value) {
    return per_entry_point(field, value, [&](int entry, const std::string& name, const json& item) {
      bool crash = false;
      if (!boolean(name, item, crash)) return false;
      if (crash) {
        out_.faults.crash.insert(entry);
      } else {
        out_.faults.crash.erase(entry);
      }
      return true;
    });
  }

  Reader& out_;
  const std::string& folder_;
  std::string error_;
};

// The parser's message without its own tag ("[json.exception.parse_error.101] "): the line and
// column it names stay.
std::string parser_message(const json::exception& e) {
  const std::string what = e.what();
  const std::size_t tag_end = what.find("] ");
  return what.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos
             ? what.substr(tag_end + 2)
             : what;
}

}  // namespace

bool parse_profile(std::string_view text, Reader& out, std::string& error,
                   const std::string& folder) {
  out = sample_reader();
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    error = "profile: not valid JSON: " + parser_message(e);
    return false;
  }
  Parser parser(out, folder);
  try {
    if (parser.document(doc)) return true;
    error = parser.error();
  } catch (const json::exception& e) {
    error = "profile: " + parser_message(e);
  }
  return false;
}

bool read_profile(const char* path, Reader& out, std::string& error) {
  const std::string shown = path ? path : "(null)";
  std::string text;
  if (!read_handed_file("profile", path, kMaxProfileBytes, text, error)) return false;
  return parse_profile(text, out, error, std::string(plat::folder_of(shown)));
}

}  // namespace sim
