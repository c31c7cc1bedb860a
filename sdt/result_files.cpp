#include "sdt/result_files.h"

#include "platform/platform.h"

namespace sdt {

ResultPath output_folder() {
  return ResultPath(plat::executable_folder_in<kOutputFolderRoom>());
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
