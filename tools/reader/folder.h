// The reader process's folder: made private for each reader process in this user's own place
// (platform: private_folder_base), held by a lock while the process is idcard's, removed with
// everything in it when the process ends; those of reader processes that ended without their
// parent removing them (idcard killed) go at the next start.
#pragma once

#include <string>

#include "platform/platform.h"

namespace idcard::reader {

class Folder {
 public:
  Folder() = default;
  ~Folder() { remove(); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Makes a new folder under `base` (ending in a separator) and takes its lock. False with a
  // line naming the folder and what failed.
  bool make(const std::string& base, std::string* error);
  // Removes the folder with everything in it (a file still in use delays it a little on
  // Windows); nothing when none was made.
  void remove();
  // The folder, ending in a separator; empty when none was made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  plat::File lock_;
};

// Removes the folders under `base` of reader processes that have ended: those whose lock can be
// taken. A folder being made (no lock yet) is left alone, as are folders this user cannot
// enter. How many were removed.
int remove_ended_folders(const std::string& base);

}  // namespace idcard::reader
