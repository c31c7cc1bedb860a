// A host application for the write cases: loads the simulator and an edition from the paths it is
// given, reads the simulator's sample card as an application would, and writes the edition's
// answers into the report file as one line of numbers:
//   qdx      InitComm, Authenticate, Read_Content(4), Read_Content(1)
//   sdt      OpenComm, ReadBaseInfo(1)
//   vantrel  InitComm, Authenticate, Read_Content(1)
// Usage: writes_host qdx|sdt|vantrel <sdtapi> <WltRS> <edition> <report>
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

std::string numbers(std::initializer_list<int> values) {
  std::string line;
  for (const int n : values) line += (line.empty() ? "" : " ") + std::to_string(n);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  if (!plat::load_library(argv[2]) || !plat::load_library(argv[3])) return 3;
  edition = plat::load_library(argv[4]);
  if (!edition) return 4;
  const std::string_view which = argv[1];
  std::string report;
  if (which == "qdx") {
    const int opened = EXPORT_OF(InitComm)(1001);
    const int selected = EXPORT_OF(Authenticate)();
    const int text = EXPORT_OF(Read_Content)(4);
    report = numbers({opened, selected, text, EXPORT_OF(Read_Content)(1)});
  } else if (which == "sdt") {
    const int opened = EXPORT_OF(OpenComm)(1001);
    report = numbers({opened, EXPORT_OF(ReadBaseInfo)(1)});
  } else if (which == "vantrel") {
    const int opened = EXPORT_OF(InitComm)(1001);
    const int selected = EXPORT_OF(Authenticate)();
    report = numbers({opened, selected, EXPORT_OF(Read_Content)(1)});
  } else {
    return 5;
  }
  plat::File file = plat::create_file(argv[5], plat::Share::Read);
  return file.write(report.data(), report.size()) == report.size() ? 0 : 6;
}
