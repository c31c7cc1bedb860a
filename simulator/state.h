// The simulated reader's state: the card's records, the reader's port, injected faults, scripted
// statuses and the journal of calls. Each simulator library holds one such state of its own.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "simulator/simulator.h"
#include "recording/recording.h"

// Marks a function that a simulator library exports: the driver and decoder entry points and the
// control API. Windows: exported from the DLL (32-bit names undecorated by --kill-at at link time);
// POSIX: the only symbols with default visibility.
#if defined(_WIN32)
#define SIM_EXPORT __declspec(dllexport)
#else
#define SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace sim {

using Bytes = std::vector<unsigned char>;

// Sim_SetRecord keeps at most this many bytes of a record.
inline constexpr int kMaxRecordBytes = 4096;
// The most bytes a driver call ever writes for each record (SimRecord order): the contract's
// buffer sizes, so that a caller giving exactly those sizes is never overrun.
inline constexpr int kWriteLimit[SIM_REC_COUNT] = {
    drv::kIdentityBytes,         drv::kPhotoBytes, drv::kAppendedAddressBytes,
    drv::kManagementInfoBytes, drv::kSamIdBytes, drv::kSamIdTextBytes};
// The journal keeps the most recent calls only.
inline constexpr std::size_t kJournalLimit = 4096;
// What an export returns when it failed inside the simulator itself (out of memory).
inline constexpr int kInternalFailure = 0x03;

struct Faults {
  bool no_card = false;            // StartFindIDCard 0x80, SelectIDCard and the reads 0x41
  bool sam_not_answering = false;  // the SAM entry points 0x60
  // Entry points that block when called: for that many milliseconds, kHangForever until the
  // process ends; and entry points that end the process abnormally when called.
  std::map<int, unsigned> hang;
  std::set<int> crash;
  // Set: hang and crash strike only the first that many calls of their entry point.
  std::optional<unsigned> strikes;
};
inline constexpr unsigned kHangForever = 0;

// Scripted statuses by (entry, port); SIM_ANY_PORT is a port value like any other here.
struct Script {
  std::map<std::pair<int, int>, int> persistent;
  std::map<std::pair<int, int>, std::deque<int>> queued;

  // The status a call of `entry` on `port` must return instead of its own work, if any: the
  // queue of that port, then the any-port queue, then the port's persistent status, then the
  // any-port one. A queued status is used up.
  std::optional<int> take(int entry, int port);
};

// A recording played back: each library answers the recording's calls of its own library, in
// their order, with the recorded statuses, lengths and bytes.
struct Replay {
  std::string file;
  std::shared_ptr<const std::vector<recording::Call>> calls;
  std::size_t next = 0;  // the recording's next call, of any library
  bool left = false;     // a call left the recorded sequence: every later call fails too
  // Set when the recording, or the profile that named it, could not be used: why. Every call then
  // fails as off the recording; the reason goes to standard error once, at the first call unless
  // it was said already (`said`).
  std::string refused;
  bool said = false;
};

// Everything a card profile describes; a profile is parsed into a fresh Reader and swapped in.
struct Reader {
  int port = 1001;
  std::array<Bytes, SIM_REC_COUNT> records;
  std::array<std::optional<unsigned>, SIM_REC_COUNT> reported;  // length overrides
  Faults faults;
  int decoder_result = 1;
  Script script;
  // Whether the card lies on the reader: taken off, it is not found and cannot be read.
  bool card_on_reader = true;
  // A reader that, once it has read a card, finds it again only after it was taken off.
  bool hides_read_card = false;
  // Set: the reader plays a recording back instead of doing any of the above.
  std::optional<Replay> replay;

  // The length the driver reports for a record: the override, else the record's size.
  unsigned reported_length(int record) const;
};

// The reader out of the box: port 1001, no faults, decoder result 1, the sample card.
Reader sample_reader();

struct State {
  Reader reader = sample_reader();
  std::set<int> open_ports;
  std::deque<SimCall> journal;
  SimSink sink = nullptr;
  // The card on the reader was read since it was put there (see Reader::hides_read_card).
  bool card_was_read = false;
  // Calls of each entry point since the library was loaded (or reset), under either prefix: what
  // Faults::strikes counts.
  std::array<unsigned, SIM_ENTRY_COUNT> calls{};

  bool is_open(int port) const { return open_ports.count(port) != 0; }
  // No card to select or read: the fault no_card, or the card taken off.
  bool card_missing() const { return reader.faults.no_card || !reader.card_on_reader; }
  // Whether StartFindIDCard finds the card.
  bool card_found() const {
    return !card_missing() && !(reader.hides_read_card && card_was_read);
  }
};

// This library's state.
State& state();

// Adds a call to the journal (dropping the oldest beyond kJournalLimit) and hands it to the sink.
void journal_call(int library, int prefix, int entry, int port, int value, int result,
                  const char* path);

// Counts a call of `entry` and lets the faults hang and crash strike it: ends the process, or
// blocks, before the call does anything else. Called first by every driver and decoder export.
void strike(int entry);

// Reads a file the simulator was handed (`what`: "profile", "replay") whole when it is a regular
// file of at most `limit` bytes (a whole number of MiB); false with "<what>: <why>" naming the path
// (null: "(null)") in `error`.
bool read_handed_file(const char* what, const char* path, std::size_t limit, std::string& text,
                      std::string& error);

// ---- Replay -------------------------------------------------------------------------------------

// The answer of `library` to a call in replay: the recorded status after handing back the
// recorded counts and bytes through `args`; when the call is not the recording's next call of
// that library (or the recording has none left), SIM_STATUS_OFF_RECORDING with one line on
// standard error naming the call's number in the recording, what was expected and what came.
// nullopt when no recording is played.
std::optional<int> replay_call(int library, int prefix, int entry,
                               const std::vector<recording::Arg>& args);

// Reads a recording for replay; false with "replay: <what is wrong>" in `error`.
bool read_recording(const std::string& path, Replay& out, std::string& error);

// A reader that fails every call with SIM_STATUS_OFF_RECORDING, since what it was asked to be
// cannot be used: `why`. `said`: the reason was told already (on standard error or to the caller
// that loaded the profile); else the first call says it.
Reader refused_reader(const std::string& why, bool said);

// ---- Building records ---------------------------------------------------------------------------

// UTF-8 to UCS-2. nullopt with a reason in *why when the text is not valid UTF-8 or holds a
// character outside the Basic Multilingual Plane.
std::optional<std::u16string> utf8_to_ucs2(std::string_view utf8, std::string* why);

// Writes `text` as UCS-2 little-endian at `offset`, padded with blanks (U+0020) to `units`
// characters. The caller has checked that it fits.
void put_ucs2(Bytes& record, int offset, int units, std::u16string_view text);

// The entry point's name without prefix ("ReadBaseMsg"), as profiles name it; nullptr when out of
// range.
const char* entry_name(int entry);

// ---- Card profiles ------------------------------------------------------------------------------

// Parses a card profile into `out`: the sample reader changed by what the profile names. False with
// a message naming the field in `error`; `out` is then unspecified, except that out.replay is set
// and refused when what failed was the recording the profile names.
// A relative recording path ("replay") is taken from `folder` (with its separator), when given.
bool parse_profile(std::string_view json, Reader& out, std::string& error,
                   const std::string& folder = {});
// Reads and parses a profile file.
bool read_profile(const char* path, Reader& out, std::string& error);

}  // namespace sim
