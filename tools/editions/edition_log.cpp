#include "tools/editions/edition_log.h"

#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "tools/editions/sequence.h"

namespace idcard {

namespace fs = std::filesystem;

bool bound_log(const std::string& path, std::size_t limit) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size <= limit) return !ec || !fs::exists(path);
  // Only the tail is read: a log that grew far past the limit is cut back all the same.
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  in.seekg(static_cast<std::streamoff>(size - limit / 2));
  std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
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
