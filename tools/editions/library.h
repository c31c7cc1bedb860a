// Loading an edition as an application deploys it: the reader's driver first (the one beside the
// edition or on the system's search path; the simulated one of the dist/ or build folder when it
// is asked for or no driver is found), then the edition, copied into a folder under the name an
// application gives it: the reader process's own folder, or a private folder made for it.
#pragma once

#include <string>

#include "platform/platform.h"
#include "tools/editions/edition.h"
#include "tools/editions/options.h"

namespace idcard {

// The export that tells the simulated reader's libraries from a reader maker's: it takes a card
// profile.
inline constexpr char kProfileExport[] = "Sim_LoadProfile";

// Hands a card profile to a loaded simulator library; true for any other driver, which takes none.
// False with a one-line message when the simulator refuses the profile.
bool hand_profile(plat::Module driver, const std::string& card, std::string* error);

struct Library {
  plat::Module module = nullptr;
  std::string source;          // the library file as found
  std::string private_folder;  // the folder it runs from, ending in a separator
  std::string log;             // the path of the edition's own log there, or empty
  std::string driver;          // the driver file the edition calls (its full path), or empty
  // Why the simulated reader is read though it was not asked for (no driver found), or empty.
  std::string notice;
  bool made_folder = false;    // the folder was made for it and goes with it
};

// Loads the driver and the edition and checks that the library is the edition asked for, with
// every export its reads call, and that the driver and decoder are there. False with a one-line
// message naming what is wrong (the library or the driver missing, another edition's library,
// the private folder or the edition's log impossible to create).
bool load(const ReaderOptions& o, Library* library, std::string* error);
// The same, deployed into `folder` (ending in a separator), which stays when it is unloaded.
bool load_into(const ReaderOptions& o, const std::string& folder, Library* library,
               std::string* error);
// Frees the library and removes a private folder made for it with everything in it.
void unload(Library* library);

}  // namespace idcard
