// The editions as data: one descriptor per edition names its exports, the call sequence of a
// read, what their results mean, its getters and result files. editions/sequence.cpp runs a
// descriptor; nothing else in the host program knows an edition by its calls.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "driver/binding.h"
#include "tools/card/card.h"

namespace idcard {

enum class Edition { Qdx, Sdt, Vantrel };

// What the results low..high of a call mean.
struct Meaning {
  int low, high;
  Failure kind;
  const char* text;
};

// A call of the sequence that succeeds with 1. A result that no meaning covers is a ReadFailed
// without a text.
struct Step {
  const char* step;  // open, authenticate, select, read
  const char* name;  // the export
  std::span<const Meaning> meanings;
};

// How a getter hands out its value.
enum class GetterForm {
  Terminated,  // int Get(char* buf): zero-terminated, the result its length
  Sized,       // int Get(char* buf, int size): the result its length
  Indexed,     // int Get(int index, char* buf, int size), index 1
  ByteCount,   // int Get(char* buf, int size), binary: the field is the number of bytes
  PhotoPath,   // int Get(char* buf): the path of the decoded photo, not a field
};

struct Getter {
  const char* key;
  const char* name;
  GetterForm form;
};

// Fields an edition leaves in a result file beside the program instead of handing them out.
enum class FileLayout {
  Lines,   // one field a line, in `keys` order
  Record,  // the raw identity record
};

// In a result file's name: the decimal number of the reader's SAM (a leading '-' for a negative
// one), by which the QDX edition's mode 6 names its files.
inline constexpr std::string_view kSamNumber = "<SAM>";

// Whether `name` is the file name `pattern`, where kSamNumber stands for such a number.
bool result_name_matches(std::string_view pattern, std::string_view name);

struct FileFields {
  int mode;
  const char* file;  // may hold kSamNumber
  FileLayout layout;
  std::span<const char* const> keys;
  const char* photo;  // the decoded photo this mode leaves beside the program (may hold
                      // kSamNumber), or nullptr
};

struct EditionInfo {
  Edition id;
  const char* name;         // qdx, sdt, vantrel
  const char* library;      // its file in its folder of dist/
  const char* deployed_as;  // the name an application deploys it under
  const char* signature;    // an export that no other edition has
  Step open, card, read;
  int full_mode;                // the content mode / read type of a full read
  std::span<const int> modes;   // every mode the read takes
  int extra_mode;               // read after a full read; 0 for none
  // The field that the extra read fills. When that read fails (the card has none), the field is
  // empty: the getter would hand out what an earlier card left.
  const char* extra_field;
  std::span<const Getter> getters;
  std::span<const FileFields> files;
  const char* photo;  // the decoded photo beside the program whatever the mode, or nullptr
  std::span<const char* const> result_files;
  std::span<const char* const> driver_files;  // Windows names: what must be there to read
  char date_separator;  // what it writes into a date field that holds no date (see Card)
  const char* log_file;  // the log it keeps beside itself, or nullptr
  drv::Prefix driver_prefix;  // the family of the driver's names it calls
  const char* serial_driver;  // Windows name of the driver it switches to for serial ports, or nullptr
};

std::span<const EditionInfo> editions();
const EditionInfo& edition_info(Edition e);
// nullptr for a name that is no edition's.
const EditionInfo* find_edition(std::string_view name);
// The exports that the host program's reads call: the sequence's, CloseComm and the getters.
std::vector<const char*> called_exports(const EditionInfo& e);

}  // namespace idcard
