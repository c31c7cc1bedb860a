#include "tools/editions/options.h"

#include "platform/host.h"

namespace idcard {

const std::string& program_folder() {
  static const std::string folder = plat::executable_folder();
  return folder;
}

std::string root_folder(const ReaderOptions& o) {
  return o.root.empty() ? program_folder() + ".." + plat::kPathSeparator : o.root;
}

std::string file_name(const char* windows_name) {
  return std::string(plat::library_file_name(windows_name));
}

bool set_edition(ReaderOptions& o, const std::string& name) {
  const EditionInfo* e = find_edition(name);
  if (!e) return false;
  o.edition = e->id;
  o.edition_name = e->name;
  return true;
}

}  // namespace idcard
