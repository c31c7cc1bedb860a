// What selects the edition, the reader and the card: the options of every command that reads,
// and where the editions lie. Data only: nothing here loads a library.
#pragma once

#include <string>

#include "tools/editions/edition.h"

namespace idcard {

struct ReaderOptions {
  Edition edition = Edition::Sdt;
  std::string edition_name = "sdt";
  std::string library;  // empty: the dist/build layout under `root`
  int port = 1001;
  int mode = 0;      // 0: the edition's full read
  std::string card;  // a card profile for the simulated reader, or empty
  // Read the simulated reader of root/simulator/ instead of the desk's driver (--simulator; a
  // card profile implies it). Without it the simulator is read only when no driver is found.
  bool simulator = false;
  bool simulated() const { return simulator || !card.empty(); }
  // The folder that holds the edition folders and simulator/, ending in a separator; empty: the
  // folder above this program's.
  std::string root;
  // The reader host program that the reader process runs; empty: the one beside this program.
  std::string host;
  // Where the reader process's private folders are made; empty: the user's runtime or temporary
  // folder. A service whose policy forbids programs in temporary folders names a folder of its own.
  std::string reader_folder;
  const EditionInfo& info() const { return edition_info(edition); }
};

// Sets the edition from its name (qdx, sdt, vantrel); false for any other name.
bool set_edition(ReaderOptions& o, const std::string& name);

// The folder of this program, ending in a separator: the editions write their result files there.
const std::string& program_folder();

// The folder that holds the edition folders and simulator/, ending in a separator.
std::string root_folder(const ReaderOptions& o);

// A library's file name on this platform for its Windows name ("sdtapi.dll": the same on Windows,
// libsdtapi.so on POSIX).
std::string file_name(const char* windows_name);

}  // namespace idcard
