#include "tools/reader/folder.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/host.h"
#include "tools/reader/messages.h"

namespace idcard::reader {

namespace {

namespace fs = std::filesystem;

// A folder without its lock this long is not being made any more.
constexpr auto kMakingTime = std::chrono::minutes(1);

// Removes the folder; on Windows a program that has just ended may hold its file a moment
// longer.
bool remove_tree(const std::string& folder) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code ec;
    fs::remove_all(fs::path(folder), ec);
    if (!ec && !fs::exists(fs::path(folder), ec)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

bool Folder::make(const std::string& base, std::string* error) {
  remove();
  if (base.empty()) {
    *error = "there is no temporary folder to make the reader's folder in";
    return false;
  }
  std::random_device random;
  std::string made;
  for (int attempt = 0; attempt < 16 && made.empty(); ++attempt) {
    // Built by appending (GCC 12 warns falsely on the optimised concatenation).
    std::string path = base;
    path.append(kFolderPrefix)
        .append(std::to_string(plat::current_process_id()))
        .append("-")
        .append(std::to_string(random()));
    if (plat::create_private_folder(path, error)) made = path + plat::kPathSeparator;
    else if (fs::exists(fs::path(path))) continue;
    else return false;
  }
  if (made.empty()) return false;
  const std::string lock = made + kLockFile;
  lock_ = plat::open_file(lock.c_str(), true, plat::Share::None, true);
  if (!lock_.is_open()) {
    *error = "cannot make the lock " + lock + ": " + plat::error_text(plat::last_error());
    remove_tree(made);
    return false;
  }
  path_ = made;
  return true;
}

void Folder::remove() {
  lock_.close();
  if (!path_.empty()) remove_tree(path_);
  path_.clear();
}

int remove_ended_folders(const std::string& base) {
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(base), ec)) {
    const std::string name = entry.path().filename().string();
    std::error_code kind_error;
    if (name.rfind(kFolderPrefix, 0) != 0 || !entry.is_directory(kind_error)) continue;
    const std::string folder = entry.path().string() + plat::kPathSeparator;
    const std::string lock = folder + kLockFile;
    if (!plat::file_exists(lock.c_str())) {
      // Being made, or left half-made long ago.
      std::error_code time_error;
      const auto written = fs::last_write_time(entry.path(), time_error);
      if (time_error || fs::file_time_type::clock::now() - written < kMakingTime) continue;
    } else if (!plat::open_file(lock.c_str(), true, plat::Share::None).is_open()) {
      continue;  // its reader process runs, or it is another user's
    }
    if (remove_tree(folder)) ++removed;
  }
  return removed;
}

}  // namespace idcard::reader
