#include "sdt/files.h"

#include "platform/platform.h"

namespace sdt {

std::optional<std::string> output_folder_of(const std::string& executable_path) {
  std::string folder = plat::folder_of(executable_path);
  if (folder.empty() || folder.size() >= kExecutablePathBytes) return std::nullopt;
  return folder;
}

std::optional<std::string> output_folder() { return output_folder_of(plat::executable_path()); }

bool write_file(const std::string& path, const void* data, std::size_t size) {
  plat::File file = plat::create_file(path.c_str(), plat::Share::None);
  if (!file.is_open()) return false;
  if (file.write(data, size) == size) return true;
  file.close();
  plat::delete_file(path.c_str());
  return false;
}

}  // namespace sdt
