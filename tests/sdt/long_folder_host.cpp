// A host application for the folder cases: loads the simulator and the edition from the paths it
// is given, reads the simulator's sample card on its first USB port and writes what the edition
// answered, as one line of numbers, into the report file.
// Usage: sdt_long_folder_host <sdtapi> <WltRS> <edition> <report>
#include <cstdio>

#include "platform/abi.h"
#include "platform/platform.h"
#include "include/ridel_sdt.h"

namespace {

template <class Fn>
Fn entry(plat::Module library, const char* name) {
  return reinterpret_cast<Fn>(plat::entry_point(library, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  if (!plat::load_library(argv[1]) || !plat::load_library(argv[2])) return 3;
  const plat::Module edition = plat::load_library(argv[3]);
  if (!edition) return 4;
  const auto open = entry<decltype(&OpenComm)>(edition, "OpenComm");
  const auto read = entry<decltype(&ReadBaseInfo)>(edition, "ReadBaseInfo");
  const auto name = entry<decltype(&GetName)>(edition, "GetName");
  const auto picture = entry<decltype(&GetPicPath)>(edition, "GetPicPath");
  const auto appended = entry<decltype(&GetNewAddr)>(edition, "GetNewAddr");
  if (!open || !read || !name || !picture || !appended) return 5;

  char text[RIDEL_SDT_VALUE_BUFFER];
  const int opened = open(1001);
  const int reads[] = {read(1), read(2), read(5), read(3), read(4)};
  const int lengths[] = {name(text), picture(text), appended(text)};
  char report[128];
  const int n = std::snprintf(report, sizeof report, "%d %d %d %d %d %d %d %d %d", opened,
                              reads[0], reads[1], reads[2], reads[3], reads[4], lengths[0],
                              lengths[1], lengths[2]);
  plat::File file = plat::create_file(argv[4], plat::Share::Read);
  return file.write(report, static_cast<std::size_t>(n)) == static_cast<std::size_t>(n) ? 0 : 6;
}
