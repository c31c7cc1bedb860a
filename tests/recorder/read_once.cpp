// One read through an edition, as an application makes it, for the record-then-replay tests:
//   recorder_read <root> <edition> <library>
// <root> holds the simulator/ folder whose driver is loaded first; the edition's result files stay
// beside this program. Prints "ok" and the card's fields, or "error: <why>"; exits 0 after a read.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/editions/sequence.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: recorder_read <root> <edition> <library>\n");
    return 2;
  }
  idcard::ReaderOptions o;
  o.root = std::string(argv[1]) + plat::kPathSeparator;
  o.library = argv[3];
  if (!idcard::set_edition(o, argv[2])) return 2;
  idcard::Library library;
  std::string error;
  if (!idcard::load(o, &library, &error)) {
    std::printf("error: %s\n", error.c_str());
    return 2;
  }
  const idcard::ReadResult r = idcard::read_card(library, o);
  idcard::unload(&library);
  if (!r.ok) {
    std::printf("error: %s\n", r.error.line().c_str());
    return 1;
  }
  std::printf("ok\n");
  for (const idcard::Field& f : r.card.fields) std::printf("%s: %s\n", f.key, f.value.c_str());
  const std::string photo(plat::folder_of(r.card.photo).empty()
                              ? r.card.photo
                              : r.card.photo.substr(plat::folder_of(r.card.photo).size()));
  std::printf("photo: %s\n", photo.c_str());
  return 0;
}
