#include "tools/editions/private_folder.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.h"
#include "tools/editions/sequence.h"

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

bool bound_log(const std::string& path, std::size_t limit) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size <= limit) return !ec || !fs::exists(path);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(size - limit / 2));
  std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const std::size_t line = tail.find('\n');
  tail.erase(0, line == std::string::npos ? tail.size() : line + 1);
  // Replaced as the edition makes it, hidden (Windows replaces a hidden file by a hidden one only).
  plat::File out = plat::create_file(path.c_str(), plat::Share::Read, /*hidden=*/true);
  return out.is_open() && out.write(tail.data(), tail.size()) == tail.size();
}

std::vector<std::string> last_lines(const std::string& path, std::size_t count) {
  const std::string text = read_file(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
  return lines;
}

}  // namespace idcard
