// Reading a card through one edition library, as an application does: the library loading and the
// per-edition call sequences shared by `idcard` and `idcard serve`.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace idcard {

enum class Edition { Qdx, Sdt, Vantrel };

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
};

// The folder of this program, ending in a separator: the editions write their result files there.
const std::string& program_folder();

// Sets the edition from its name (qdx, sdt, vantrel); false for any other name.
bool set_edition(ReaderOptions& o, const std::string& name);
// A whole 32-bit decimal number; false for anything else.
bool parse_int(const char* text, int* value);

// Loads the simulated reader of `root` when it is there (handing it the card profile) and the
// edition. False with a one-line message when the library or the profile cannot be used.
struct Library {
  plat::Module module = nullptr;
  std::string path;
  std::string private_folder;  // a folder of its own the library was deployed into, or empty
};
bool load(const ReaderOptions& o, Library* library, std::string* error);
// Frees the library and removes the folder it was deployed into.
void unload(Library* library);

struct Field {
  const char* key;
  std::string value;  // UTF-8, padding trimmed
};

struct Card {
  std::vector<Field> fields;  // in the edition's own form
  std::string photo;          // path of the decoded bitmap, or empty
  const std::string* find(const char* key) const;
};

// Why a read failed: no reader on the port, no card on it, the card there but its read failing,
// or the library itself unusable (an export missing).
enum class Failure { NoReader, NoCard, ReadFailed, Internal };

struct ReadError {
  Failure kind = Failure::Internal;
  std::string step;     // open, authenticate, select, read, library
  std::string call;     // the library call with its arguments: "OpenComm(1001)"
  int code = 0;         // what the call returned
  std::string message;  // what that result means
  // "open: OpenComm(1001) returned -10: no reader found (driver status 1)"
  std::string line() const;
};

struct ReadResult {
  bool ok = false;
  Card card;
  ReadError error;
};

// One full read: open, authenticate or select, the edition's read, its getters, close. The port is
// closed again after a failure past the open.
ReadResult read_card(const Library& library, const ReaderOptions& o);

// Opens the port and closes it again: whether a reader answers, without reading a card.
ReadResult check_reader(const Library& library, const ReaderOptions& o);

// The bytes of a file (a result file: at most 1 MiB), empty when it cannot be read.
std::string read_file(const std::string& path);

// The result files of the edition beside this program, in the order the edition writes them.
const std::vector<const char*>& result_files(Edition e);

}  // namespace idcard
