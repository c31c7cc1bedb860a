// The result files in the output folder.
#include "vantrel/result_files.h"

#include "vantrel/error_log.h"

namespace vantrel {
namespace {

// A result-file path has fewer characters than this.
constexpr std::size_t kResultPathLimit = 512;

// Only a path that fits and lies in a known output folder names a result file.
bool usable(const ResultPath& path) {
  return !reader.output_folder.empty() && !path.cut() && path.size() < kResultPathLimit;
}

// Logs a file that cannot be made or opened, with the system's reason.
void log_file_failure(std::string_view path) {
  log_error(kMsgCreateFile, static_cast<int>(plat::last_error()), path);
}

}  // namespace

void log_refused_path(std::string_view path) { log_error(kMsgCreateFile, 0, path); }

ResultPath result_path(unsigned name) {
  char file[kFileNameRoom];
  return ResultPath(reader.output_folder).append(load_text(name, file));
}

ResultPath result_path(std::string_view stem, std::string_view suffix) {
  return ResultPath(reader.output_folder).append(stem).append(suffix);
}

bool write_result_file(const ResultPath& path, const void* bytes, std::size_t count) {
  if (!usable(path)) {
    log_refused_path(path);
    return false;
  }
  // Written whole or not at all: a file that cannot be made or completed (a full disk) is
  // logged with the system's reason, and no partial file stays.
  std::uint32_t error = 0;
  if (!plat::write_whole_file(path.c_str(), bytes, count, plat::Share::Read, &error)) {
    log_error(kMsgCreateFile, static_cast<int>(error), path);
    return false;
  }
  return true;
}

std::size_t read_result_file(const ResultPath& path, void* buffer, std::size_t size) {
  if (!usable(path)) {
    log_refused_path(path);
    return 0;
  }
  plat::File file = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!file.is_open()) {
    log_file_failure(path);
    return 0;
  }
  return file.read(buffer, size);
}

void delete_result_file(const ResultPath& path) {
  if (usable(path)) plat::delete_file(path.c_str());
}

}  // namespace vantrel
