#include "tools/editions/private_folder.h"

#include <filesystem>
#include <random>


namespace idcard {

namespace fs = std::filesystem;

std::string make_private_folder() {
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return {};
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path folder = temp / ("idcard-" + std::to_string(random()));
    if (!fs::create_directory(folder, ec)) continue;
    // Nobody but this user may look in; the folder is empty until then. (On Windows the user's
    // temporary folder is the user's own already.)
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    if (ec) {
      fs::remove(folder, ec);
      return {};
    }
    return folder.string() + static_cast<char>(fs::path::preferred_separator);
  }
  return {};
}

void remove_folder(const std::string& folder) {
  std::error_code ec;
  if (!folder.empty()) fs::remove_all(fs::path(folder), ec);
}

}  // namespace idcard
