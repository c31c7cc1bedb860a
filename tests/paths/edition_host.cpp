// A host application for the path cases: loads the simulator and an edition from the paths it is
// given, reads the simulator's sample card through the edition as an application would, and
// writes what the edition answered into the report file, as one line of numbers (for the SDT
// edition followed by a line with its picture path).
// Usage: paths_edition_host qdx|sdt|vantrel <sdtapi> <WltRS> <edition> <report> [<photo>]
// The vantrel edition then also decodes <photo>, a copy of its ZP.wlt in its output folder, with
// SetPhotoData.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/abi.h"
#include "platform/platform.h"
#include "include/ridel_qdx.h"
#include "include/ridel_sdt.h"
#include "include/vantrel.h"

namespace {

plat::Module edition = nullptr;

template <class Fn>
Fn entry(const char* name) {
  return reinterpret_cast<Fn>(plat::entry_point(edition, name));
}
// The edition's export of that name, with the type its header gives it.
#define EXPORT_OF(name) entry<decltype(&name)>(#name)

std::string qdx() {
  const int opened = EXPORT_OF(InitComm)(1001);
  const int selected = EXPORT_OF(Authenticate)();
  const auto read = EXPORT_OF(Read_Content);
  const int reads[] = {read(1), read(3), read(5), read(6)};
  return std::to_string(opened) + " " + std::to_string(selected) + " " + std::to_string(reads[0]) +
         " " + std::to_string(reads[1]) + " " + std::to_string(reads[2]) + " " +
         std::to_string(reads[3]);
}

std::string sdt() {
  const auto read = EXPORT_OF(ReadBaseInfo);
  const int opened = EXPORT_OF(OpenComm)(1001);
  const int reads[] = {read(1), read(2), read(5), read(3), read(4)};
  char name[RIDEL_SDT_VALUE_BUFFER], picture[RIDEL_SDT_VALUE_BUFFER];
  char address[RIDEL_SDT_VALUE_BUFFER];
  const int lengths[] = {EXPORT_OF(GetName)(name), EXPORT_OF(GetPicPath)(picture),
                         EXPORT_OF(GetNewAddr)(address)};
  std::string line = std::to_string(opened);
  for (const int n : reads) line += " " + std::to_string(n);
  for (const int n : lengths) line += " " + std::to_string(n);
  return line + "\n" + picture;
}

std::string vantrel(const char* photo) {
  const int opened = EXPORT_OF(InitComm)(1001);
  const int selected = EXPORT_OF(Authenticate)();
  const auto read = EXPORT_OF(Read_Content);
  const int reads[] = {read(1), read(3), read(5)};
  // The photo file beside ZP.wlt, named by the caller.
  const std::string folder(plat::folder_of(photo));
  const bool copied = plat::copy_file((folder + "ZP.wlt").c_str(), photo);
  const int decoded = EXPORT_OF(SetPhotoData)(photo);
  static char bitmap[102400];
  const int bitmap_bytes = EXPORT_OF(GetPhotoBMP)(bitmap, sizeof bitmap);
  std::string line = std::to_string(opened) + " " + std::to_string(selected);
  for (const int n : reads) line += " " + std::to_string(n);
  return line + " " + std::to_string(copied) + " " + std::to_string(decoded) + " " +
         std::to_string(bitmap_bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  if (!plat::load_library(argv[2]) || !plat::load_library(argv[3])) return 3;
  edition = plat::load_library(argv[4]);
  if (!edition) return 4;
  const std::string_view which = argv[1];
  std::string report;
  if (which == "qdx") report = qdx();
  else if (which == "sdt") report = sdt();
  else if (which == "vantrel" && argc == 7) report = vantrel(argv[6]);
  else return 5;
  plat::File file = plat::create_file(argv[5], plat::Share::Read);
  return file.write(report.data(), report.size()) == report.size() ? 0 : 6;
}
