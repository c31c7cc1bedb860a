#include "qdx/result_files.h"

#include "platform/platform.h"

namespace qdx {

ResultPath result_path(std::string_view name, std::string_view suffix) {
  ResultPath path;
  if (setup.output_folder.empty()) return path;
  path.append(setup.output_folder).append(name).append(suffix);
  return path;
}

bool write_result_file(const ResultPath& path, const void* data, std::size_t size) {
  // Shared as the C library's files are: others may go on reading and writing the file.
  return !path.empty() && plat::write_whole_file(path.c_str(), data, size, plat::Share::All);
}

}  // namespace qdx
