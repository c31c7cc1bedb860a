// One call of the reader's driver or decoder as a recording keeps it, shared by the recording
// driver (which writes calls) and the simulator (which replays them): the call's arguments as the
// entry-point list names them, its status, the bytes and lengths it handed back and how long it
// took. A recording is a file of JSON lines, one call a line (FORMAT.md beside this file).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "driver/call_numbers.h"

namespace recording {

using Bytes = std::vector<unsigned char>;

// ---- The arguments of a call --------------------------------------------------------------------

// What kind of parameter an argument is, by its type in the entry-point list.
enum class Kind {
  Integer,  // int, unsigned, unsigned char: passed by value
  Count,    // unsigned int*: a length or rate the call hands back
  Bytes,    // unsigned char*: a buffer the call fills
  Text,     // char*: the SAM ID text the driver writes, or the photo path GetBmp is given
};

struct Arg {
  std::string name;
  Kind kind = Kind::Integer;
  std::int64_t value = 0;  // Integer
  void* pointer = nullptr;
};

// The argument column of the entry-point list as text, by entry number: "(port, id, flag)".
inline constexpr const char* kArgumentNames[SIM_ENTRY_COUNT] = {
#define RECORDING_ARGUMENT_NAMES(Name, NAME, prefixes, parameters, arguments) #arguments,
    RIDEL_DRIVER_ENTRY_POINTS(RECORDING_ARGUMENT_NAMES)
#undef RECORDING_ARGUMENT_NAMES
};

// The arguments of a call, named by `names`, the list's argument column as text ("(port, id,
// flag)"), and described by their types.
std::vector<std::string> split_names(const char* names);

template <class T>
Arg describe_argument(T value) {
  Arg a;
  if constexpr (std::is_pointer_v<T>) {
    using Target = std::remove_cv_t<std::remove_pointer_t<T>>;
    static_assert(std::is_same_v<Target, unsigned int> || std::is_same_v<Target, unsigned char> ||
                      std::is_same_v<Target, char>,
                  "a parameter type the recording does not know");
    a.kind = std::is_same_v<Target, unsigned int>    ? Kind::Count
             : std::is_same_v<Target, unsigned char> ? Kind::Bytes
                                                     : Kind::Text;
    a.pointer = const_cast<Target*>(value);
  } else {
    static_assert(std::is_integral_v<T>, "a parameter type the recording does not know");
    a.value = static_cast<std::int64_t>(value);
  }
  return a;
}

template <class... A>
std::vector<Arg> arguments(const char* names, A... values) {
  std::vector<Arg> args = {describe_argument(values)...};
  const std::vector<std::string> split = split_names(names);
  for (std::size_t i = 0; i < args.size() && i < split.size(); ++i) args[i].name = split[i];
  return args;
}

// ---- A call -------------------------------------------------------------------------------------

struct Call {
  int library = SIM_LIB_SDTAPI;  // SimLibrary
  int prefix = SIM_PREFIX_NONE;  // SimPrefix
  int entry = 0;                 // SimEntry
  // Its integers by value and its pointers as whether they were given (true) or null, in the
  // list's order; GetBmp's photo path as its bytes.
  std::vector<std::pair<std::string, std::int64_t>> args;
  std::vector<std::pair<std::string, bool>> pointers;
  std::optional<std::string> path;
  int status = 0;
  std::map<std::string, unsigned> counts;  // what the call wrote through its Count arguments
  std::map<std::string, Bytes> bytes;      // what it wrote into its buffers (see capture)
  bool card_data_kept = false;  // the card's own bytes; else synthetic ones of the same shape
  std::int64_t microseconds = 0;
  std::int64_t process = 0;
  std::optional<bool> bitmap;  // GetBmp: whether the bitmap file was there after the call
  std::string note;  // what the recording driver has to say about the call (a missing driver)
};

// The call's name as exported: "QDX_OpenPort", "SDT_ReadBaseMsg", "GetBmp".
std::string call_name(int prefix, int entry);
const char* library_name(int library);  // sdtapi, stdapi, WltRS
// Entry number of a name without prefix ("ReadBaseMsg"), -1 when none.
int entry_number(std::string_view name);

// A call as one line of text for messages: "sdtapi SDT_ReadBaseMsg(port 1001, flag 1)".
std::string describe(const Call& call);

// The call made with `args` (library, prefix and entry already set in `call`): its integers and
// which pointers were given.
void take_arguments(Call& call, const std::vector<Arg>& args);

// After the call returned: what it handed back through `args`, read from the caller's memory
// within the contract's buffer sizes. Buffers are kept only for a status that tells of success
// (0x90, 0x9F, 0x91); counts always.
void capture(Call& call, const std::vector<Arg>& args);

// Writes a recorded call's counts and bytes through `args` (where the caller gave a pointer),
// never more than the contract's buffer size of each.
void hand_back(const Call& recorded, const std::vector<Arg>& args);

// The port a call was made on (0 for GetBmp) and its trailing integer (0 where it has none), as
// the simulator's journal lists them.
int port_of(const Call& call);
int value_of(const Call& call);

// Whether a call that came (`came`) is the recorded one: same library, name and integers, the
// same pointers given; GetBmp's path by its file name only (the folder differs between machines).
bool same_call(const Call& recorded, const Call& came);

// Replaces the card's data in a recorded call by synthetic data of the same lengths and structure:
// the identity record's names, address and authority by other characters of the same kind,
// its dates and ID number by other digits, the photo and management information by fixed bytes, the
// appended address like the address. Sex, nation, the reserved field and the SAM ID stay.
void make_synthetic(Call& call);

// The value of a hexadecimal digit of either case, -1 for any other character: how a recording's
// bytes (and a card profile's photo) are written.
constexpr int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// ---- Lines ----------------------------------------------------------------------------------

// The call as one line of JSON, without its line feed.
std::string to_line(const Call& call);
// A call from a line; nullopt with the reason in *error.
std::optional<Call> from_line(std::string_view line, std::string* error);
// The line that warns, in a recording, about what the recording driver does: no call, so that
// playing the recording back passes over it.
std::string warning_line(std::int64_t process, const std::string& warning);

// Every call of a recording's text, warning lines passed over; nullopt with "line N: reason" in
// *error.
std::optional<std::vector<Call>> parse(std::string_view text, std::string* error);

}  // namespace recording
