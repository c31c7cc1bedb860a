#include "vantrel/error_log.h"

#include "platform/fixed_text.h"
#include "platform/platform.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

// The line without its CR LF is built in a buffer of this many bytes, terminator included.
constexpr std::size_t kLineRoom = 1025;
// A log larger than this is emptied before the next entry is appended.
constexpr std::int64_t kLogLimit = 4096;

// What the message boxes say (GBK).
constexpr char kCaption[] = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2";  // 错误信息
constexpr char kCannotOpen[] =                                   // 无法创建错误日志文件!
    "\xCE\xDE\xB7\xA8\xB4\xB4\xBD\xA8\xB4\xED\xCE\xF3\xC8\xD5\xD6\xBE\xCE\xC4\xBC\xFE!";
constexpr char kCannotEmpty[] =  // 无法清空错误日志文件!
    "\xCE\xDE\xB7\xA8\xC7\xE5\xBF\xD5\xB4\xED\xCE\xF3\xC8\xD5\xD6\xBE\xCE\xC4\xBC\xFE!";
constexpr char kCannotWrite[] =  // 写错误日志文件失败!
    "\xD0\xB4\xB4\xED\xCE\xF3\xC8\xD5\xD6\xBE\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC!";

using LogPath = plat::FixedText<plat::kPathRoom + kFileNameRoom>;
// The line is cut where it reaches the end of its buffer.
using Line = plat::FixedText<kLineRoom>;

// The log lies in the folder of the module the string table comes from, the library itself;
// empty when that folder is unknown.
LogPath log_path() {
  const plat::Path module = plat::module_path(reader.resources);
  const std::string_view folder = plat::folder_of(module);
  if (folder.empty()) return {};
  char name[kFileNameRoom];
  return LogPath(folder).append(load_text(kLogFile, name));
}

Line entry_line(unsigned message, int code, std::string_view context) {
  Line line;
  line.append_decimal(code).append('<').append(context).append('>');
  // A context as long as the whole buffer (a very long file path) leaves no room for the rest.
  if (line.cut() || line.size() == Line::kCapacity) return line;
  // The message text is read into the room that is left.
  char text[kLineRoom];
  line.append(load_text(message, std::span(text, kLineRoom - line.size())));
  const plat::LocalTime t = plat::local_time();
  line.append_decimal(t.year).append('/').append_decimal(t.month).append('/');
  line.append_decimal(t.day).append("  ").append_decimal(t.hour).append(':');
  line.append_decimal(t.minute).append(':').append_decimal(t.second);
  return line;
}

}  // namespace

void log_error(unsigned message, int code, std::string_view context) {
  const Line line = entry_line(message, code, context);
  const LogPath path = log_path();
  // Read sharing only: a second process that logs at the same moment cannot open it.
  plat::File log = path.empty() ? plat::File()
                                : plat::open_file(path.c_str(), true, plat::Share::Read,
                                                  /*create=*/true, /*hidden=*/true);
  if (!log.is_open()) {
    plat::message_box(kCannotOpen, kCaption);
    return;
  }
  if (log.size() > kLogLimit) {
    log.close();
    // Windows refuses to replace a hidden file unless the new one is hidden too.
    log = plat::create_file(path.c_str(), plat::Share::Read, /*hidden=*/true);
    if (!log.is_open()) {
      plat::message_box(kCannotEmpty, kCaption);
      return;
    }
  }
  if (!log.seek_end() || log.write(line.c_str(), line.size()) != line.size()) {
    plat::message_box(kCannotWrite, kCaption);
    return;
  }
  log.write("\r\n", 2);
}

}  // namespace vantrel
