#include "sdt/result_files.h"

#include "platform/platform.h"

namespace sdt {

ResultPath output_folder() {
  return ResultPath(plat::executable_folder_in<kOutputFolderRoom>());
}

bool write_file(const ResultPath& path, const void* data, std::size_t size) {
  return plat::write_whole_file(path.c_str(), data, size, plat::Share::None);
}

}  // namespace sdt
