// Loading an edition as an application deploys it: the reader's driver first (the simulated one
// of the dist/ or build folder when it is there), then the edition, copied into a private folder
// of this process's own under the name an application gives it.
#pragma once

#include <string>

#include "platform/platform.h"
#include "tools/editions/edition.h"

namespace idcard {

// What selects the library, the reader and the card; the options both commands share.
struct ReaderOptions {
  Edition edition = Edition::Sdt;
  std::string edition_name = "sdt";
  std::string library;  // empty: the dist/build layout under `root`
  int port = 1001;
  int mode = 0;      // 0: the edition's full read
  std::string card;  // a card profile for the simulated reader, or empty
  // The folder that holds the edition folders and simulator/, ending in a separator; empty: the
  // folder above this program's.
  std::string root;
  const EditionInfo& info() const { return edition_info(edition); }
};

// Sets the edition from its name (qdx, sdt, vantrel); false for any other name.
bool set_edition(ReaderOptions& o, const std::string& name);

// The folder of this program, ending in a separator: the editions write their result files there.
const std::string& program_folder();

// A library's file name on this platform for its Windows name ("sdtapi.dll": the same on Windows,
// libsdtapi.so on POSIX).
std::string file_name(const char* windows_name);

// Hands a card profile to a loaded simulator library; true for any other driver, which takes none.
// False with a one-line message when the simulator refuses the profile.
bool hand_profile(plat::Module driver, const std::string& card, std::string* error);

struct Library {
  plat::Module module = nullptr;
  std::string source;          // the library file as found
  std::string private_folder;  // the folder it runs from, ending in a separator
  std::string log;             // the path of the edition's own log there, or empty
};

// Loads the driver and the edition and checks that the library is the edition asked for, with
// every export its reads call, and that the driver and decoder are there. False with a one-line
// message naming what is wrong (the library or the driver missing, another edition's library,
// the private folder or the edition's log impossible to create).
bool load(const ReaderOptions& o, Library* library, std::string* error);
// Frees the library and removes its private folder with everything in it.
void unload(Library* library);

}  // namespace idcard
