#include "qdx/result_files.h"

namespace qdx {

ResultPath result_path(std::string_view name, std::string_view suffix) {
  ResultPath path;
  if (setup.output_folder.empty()) return path;
  path.append(setup.output_folder).append(name).append(suffix);
  return path;
}

std::FILE* create(const ResultPath& path) {
  return path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
}

bool write_block(std::FILE* file, const void* data, std::size_t size) {
  return size == 0 || std::fwrite(data, size, 1, file) == 1;
}

bool write_raw(const ResultPath& path, const unsigned char* data, std::size_t size) {
  std::FILE* file = create(path);
  if (!file) return false;
  const bool written = write_block(file, data, size);
  std::fclose(file);
  return written;
}

}  // namespace qdx
