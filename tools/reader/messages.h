// What idcard and its reader process say to each other over their two pipes, and the layout of
// the reader process's folder. docs/architecture.md describes the same messages for readers of
// the code.
//
// A message is a header line, "<kind> <length>\n", then <length> bytes of body. Requests
// (idcard to the reader process) are "load", "read", "check" and "doctor"; the reader process answers each
// with "call" messages, one before each call of the edition, then at most one "photo" and one
// "answer".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/card/card.h"
#include "tools/editions/options.h"

namespace idcard::reader {

using Json = nlohmann::ordered_json;

// The kinds of message.
inline constexpr std::string_view kLoad = "load";    // body: the reader options (options_json)
inline constexpr std::string_view kRead = "read";    // body: {}
inline constexpr std::string_view kCheck = "check";  // body: {}
// The doctor's live checks, in a process that loads no edition. Body: the live request
// (doctor/live_checks.h); answered by "call"s, then an "answer" with the findings.
inline constexpr std::string_view kDoctor = "doctor";
inline constexpr std::string_view kCall = "call";    // body: {"step": ..., "call": ...}
inline constexpr std::string_view kPhoto = "photo";  // body: the decoded photo's bytes
inline constexpr std::string_view kAnswer = "answer";  // body: the answer (answer_json)

// The largest body taken: a photo is some tens of KiB, a card's answer a few.
inline constexpr std::size_t kMaxBody = 16u << 20;

// The file in the reader process's folder that idcard holds locked while the process is its
// own: a folder whose lock can be taken belongs to a reader process that has ended.
inline constexpr const char* kLockFile = "reader.lock";
// The start of a reader process's folder's name, then the parent's process id and a random part.
inline constexpr std::string_view kFolderPrefix = "idcard-reader-";

// The reader host program's file name beside idcard.
#if defined(_WIN32)
inline constexpr const char* kHostProgram = "idcard-reader.exe";
#else
inline constexpr const char* kHostProgram = "idcard-reader";
#endif

struct Message {
  std::string kind;
  std::string body;
};

std::string frame(std::string_view kind, std::string_view body);
std::string json_frame(std::string_view kind, const Json& body);

enum class Parse { Message, Incomplete, Bad };
// Takes the first whole message off the front of `bytes`. Bad: a header that is no message's
// (the rest cannot be trusted either).
Parse take_message(std::string& bytes, Message* message);

// Compact JSON; invalid UTF-8 replaced.
std::string text_of(const Json& document);
// The body as JSON; a discarded value for text that is none.
Json parse_json(std::string_view body);

// The load request: what the reader process needs of the options, with every path whole.
Json options_json(const ReaderOptions& o);
// False for a document that names no edition.
bool options_from_json(const Json& document, ReaderOptions* o);

// A file the read left in the folder, with its size.
using FoundFile = std::pair<std::string, std::int64_t>;

// The answer to a read or check.
struct ReadAnswer {
  ReadResult result;
  std::string photo_name;  // the decoded photo's file name in the folder, or empty
  std::vector<FoundFile> files;
  std::vector<std::string> log;  // the edition's log's last lines after a failure (UTF-8)
  std::string driver;
  std::string library;
};

Json answer_json(const ReadAnswer& a);
// False for a document that is no answer.
bool answer_from_json(const Json& document, ReadAnswer* a);

// The answer to a load: {"ok": true, "driver": ..., "library": ...}, with "notice" when the
// simulated reader is read because no driver was found.
Json loaded_json(const std::string& driver, const std::string& library, const std::string& notice = {});
// The answer to a request that could not be answered: {"ok": false, "message": ...}.
Json refusal_json(const std::string& message);

}  // namespace idcard::reader
