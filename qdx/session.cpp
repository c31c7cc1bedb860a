// The port session: open, close, authenticate, the driver's ANT call, the raw base message and
// the version text.
#include <cstdint>
#include <cstring>

#include "qdx/state.h"

namespace qdx {
namespace {

// 33 characters, the last a line feed, then zero bytes up to the 40th.
constexpr char kVersion[40] = "Ridel.dll[QDX V1.1.0.8 2007-3-2]\n";
static_assert(sizeof kVersion == RIDEL_QDX_VERSION_TEXT_BYTES);
static_assert(drv::kIdentityBytes == RIDEL_QDX_TEXT_RECORD_BYTES &&
              drv::kPhotoBytes == RIDEL_QDX_PHOTO_RECORD_BYTES);

// The driver's ANT call serves the serial ports 1 to 999 only.
constexpr bool ant_serves(int port) { return port > 0 && port < 1000; }

int authenticate() {
  if (!session.open) return 0;
  // The driver writes into these; nothing reads them.
  unsigned char found[4];
  unsigned char selected[8];
  if (call(setup.entry.StartFindIDCard, session.port, found, kFlag) != drv::kCardFound)
    return 0;
  return call(setup.entry.SelectIDCard, session.port, selected, kFlag) == drv::kOk;
}

// Closes the port around the driver's ANT call and opens it again; both results are ignored.
int ant(int value) {
  if (!session.open || !ant_serves(session.port) || !setup.entry.ANT) return 0;
  close_port();
  const int answer = setup.entry.ANT(session.port, value) & 0xFF;
  open_port(session.port);
  return answer;
}

// Hands the base message to the caller's buffers; the driver reports at most what the record
// buffers hold, and never more than that is copied.
int deliver_base_message(unsigned char* text, unsigned char* photo) {
  if (!text || !photo) return 0;
  if (!read_base_message()) return 0;
  std::memcpy(text, records.identity, bounded(records.identity_length, sizeof records.identity));
  std::memcpy(photo, records.photo, bounded(records.photo_length, sizeof records.photo));
  return 1;
}

int version(char* out) {
  if (!out) return 0;
  std::memcpy(out, kVersion, sizeof kVersion);
  return 1;
}

}  // namespace

int sam_number_of(const char (&sam_id)[kSamIdBytes]) {
  int dashes = 0;
  std::uint32_t value = 0;
  for (const char c : sam_id) {
    if (c == '-') {
      if (++dashes > 3) break;  // the fourth group is complete
      continue;
    }
    if (dashes < 3) continue;
    if (c < '0' || c > '9') break;  // the string's end, or a stray character
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<int>(value);
}

// A later open on any port re-checks the reader and takes the port, but the SAM ID is read once:
// the session flag and the SAM number stay from the first open that got that far.
int open_port(int port) {
  const drv::EntryPoints& e = setup.entry;
  if (call(e.OpenPort, port) != drv::kOk) return 0;
  if (call(e.GetSAMStatus, port, kFlag) != drv::kOk) return 0;
  session.port = port;
  if (session.open) return 1;
  char sam_id[kSamIdBytes] = {};
  if (call(e.GetSAMIDToStr, session.port, sam_id, kFlag) != drv::kOk) return 0;
  session.sam_number = sam_number_of(sam_id);
  session.open = true;
  return 1;
}

// Leaves the session flag set and the port number as it is: later calls go to the closed port,
// and the driver answers them.
int close_port() {
  if (!session.open) return 0;
  return call(setup.entry.ClosePort, session.port) == drv::kOk;
}

bool read_base_message() {
  return call(setup.entry.ReadBaseMsg, session.port, records.identity,
              &records.identity_length, records.photo, &records.photo_length,
              kFlag) == drv::kOk;
}

}  // namespace qdx

extern "C" {

int WINAPI InitComm(int port) { return qdx::open_port(port); }
int WINAPI QDX_InitComm(int port) { return InitComm(port); }
int WINAPI TC_InitComm(int port) { return InitComm(port); }

int WINAPI CloseComm() { return qdx::close_port(); }
int WINAPI QDX_CloseComm() { return CloseComm(); }
int WINAPI TC_CloseComm() { return CloseComm(); }

int WINAPI Authenticate() { return qdx::authenticate(); }
int WINAPI QDX_Authenticate() { return Authenticate(); }
int WINAPI TC_Authenticate() { return Authenticate(); }

int WINAPI QDX_Ant(int value) { return qdx::ant(value); }

// The three integers are not used; the session flag is not looked at (before any open the driver
// gets port 0).
int WINAPI QDX_ReadBaseMsg(unsigned char* text, int, unsigned char* photo, int, int) {
  return qdx::deliver_base_message(text, photo);
}

int WINAPI QDX_GetDllVersion(char* version) { return qdx::version(version); }

}  // extern "C"
