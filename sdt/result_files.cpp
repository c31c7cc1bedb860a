#include "sdt/result_files.h"

#include "platform/platform.h"

namespace sdt {

ResultPath output_folder() {
  return ResultPath(plat::executable_folder_in<kOutputFolderRoom>());
}

ResultPath result_path(const ResultPath& folder, std::string_view name) {
  return ResultPath(folder).append(name);
}

bool write_result_file(const ResultPath& path, const void* data, std::size_t size) {
  return plat::write_whole_file(path.c_str(), data, size, plat::Share::None);
}

}  // namespace sdt
