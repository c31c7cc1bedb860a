#include "vantrel/error_log.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "vantrel/reader.h"
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

// The log lies in the folder of the module the string table comes from, the library itself;
// empty when that folder is unknown.
std::string log_path() {
  const std::string folder = plat::folder_of(plat::module_path(reader().resources));
  if (folder.empty()) return {};
  return folder + load_text(kLogFile, kFileNameRoom);
}

std::string entry_line(unsigned message, int code, std::string_view context) {
  std::string line = std::to_string(code);
  line += '<';
  line += context;
  line += '>';
  // A context as long as the whole buffer (a very long file path) leaves no room for the rest.
  if (line.size() >= kLineRoom) {
    line.resize(kLineRoom - 1);
    return line;
  }
  line += load_text(message, static_cast<int>(kLineRoom - line.size()));
  const plat::LocalTime t = plat::local_time();
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%u/%u/%u  %u:%u:%u", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  line += stamp;
  if (line.size() >= kLineRoom) line.resize(kLineRoom - 1);
  return line;
}

}  // namespace

void log_error(unsigned message, int code, std::string_view context) {
  try {
    const std::string line = entry_line(message, code, context);
    const std::string path = log_path();
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
    if (!log.seek_end() || log.write(line.data(), line.size()) != line.size()) {
      plat::message_box(kCannotWrite, kCaption);
      return;
    }
    log.write("\r\n", 2);
  } catch (...) {
    // Memory exhausted while building the entry: the entry is lost, the caller goes on.
  }
}

}  // namespace vantrel
