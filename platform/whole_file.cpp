// Writing a whole file, checked from its creation to its close.
#include "platform/platform.h"

namespace plat {

bool write_whole_file(const char* path, const void* data, std::size_t size, Share share,
                      std::uint32_t* error) {
  File file = create_file(path, share);
  if (!file.is_open()) {
    if (error) *error = last_error();
    return false;
  }
  // A full disk shows in the write, or, where the system keeps data back, only in the close.
  if (file.write(data, size) == size && file.close()) return true;
  if (error) *error = last_error();
  file.close();
  delete_file(path);
  return false;
}

}  // namespace plat
