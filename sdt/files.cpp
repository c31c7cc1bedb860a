#include "sdt/files.h"

#include "platform/platform.h"

namespace sdt {

std::string_view output_folder_of(std::string_view executable_path) {
  const std::string_view folder = plat::folder_of(executable_path);
  return folder.size() < kExecutablePathBytes ? folder : std::string_view();
}

ResultPath output_folder() {
  const plat::Path executable = plat::executable_path();
  return ResultPath(output_folder_of(executable));
}

bool write_file(const ResultPath& path, const void* data, std::size_t size) {
  plat::File file = plat::create_file(path.c_str(), plat::Share::None);
  if (!file.is_open()) return false;
  if (file.write(data, size) == size) return true;
  file.close();
  plat::delete_file(path.c_str());
  return false;
}

}  // namespace sdt
