// The simulated reader driver: every entry point of the driver's list under both prefixes, QDX_
// and SDT_ (ANT under QDX_ only). Built twice: as sdtapi, which serves USB ports, and as stdapi,
// which serves serial ports.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "driver/sdtapi.h"
#include "simulator/state.h"

namespace {

constexpr int kLibrary = SIM_LIBRARY;
static_assert(kLibrary == SIM_LIB_SDTAPI || kLibrary == SIM_LIB_STDAPI,
              "the driver is built as sdtapi or stdapi");

// Statuses the simulator chooses where the contract leaves them open (see simulator.h).
constexpr int kNullPointer = SIM_STATUS_NULL_POINTER;
constexpr int kNoCard = SIM_STATUS_NO_CARD;
constexpr int kSamNotAnswering = SIM_STATUS_SAM_NOT_ANSWERING;

// What StartFindIDCard and SelectIDCard write: callers never read it, so any fixed bytes do.
constexpr unsigned char kFindReply[4] = {0x9F, 0x00, 0x00, 0x01};
constexpr unsigned char kSelectReply[8] = {0x90, 0x00, 0x00, 0x01, 0x88, 0x08, 0x08, 0x7A};
constexpr unsigned kBaud = 115200;

bool serves(int port) {
  return kLibrary == SIM_LIB_SDTAPI ? drv::is_usb_port(port) : drv::is_serial_port(port);
}

// Runs one call: a scripted status replaces the call's whole effect; otherwise `body` does the
// work. Either way the call is journalled, and no exception leaves.
template <class Body>
int run(SimPrefix prefix, SimEntry entry, int port, int value, Body body) {
  int result;
  try {
    sim::State& s = sim::state();
    if (std::optional<int> scripted = s.reader.script.take(entry, port)) {
      result = *scripted;
    } else {
      result = body(s);
    }
  } catch (...) {
    result = sim::kInternalFailure;
  }
  sim::journal_call(kLibrary, prefix, entry, port, value, result, nullptr);
  return result;
}

// A call answered from the recording played back, journalled as any call; nullopt when no
// recording is played.
template <class... A>
std::optional<int> replayed_call(SimPrefix prefix, SimEntry entry, const char* names, A... values) {
  if (!sim::state().reader.replay) return std::nullopt;
  int result = sim::kInternalFailure, port = 0, value = 0;
  try {
    const std::vector<recording::Arg> args = recording::arguments(names, values...);
    recording::Call call;
    call.entry = entry;
    recording::take_arguments(call, args);
    port = recording::port_of(call);
    value = recording::value_of(call);
    result = sim::replay_call(kLibrary, prefix, entry, args).value_or(sim::kInternalFailure);
  } catch (...) {
  }
  sim::journal_call(kLibrary, prefix, entry, port, value, result, nullptr);
  return result;
}

// Copies a record, at most its write limit, to `out`; returns the bytes copied.
std::size_t copy_record(const sim::State& s, int record, void* out) {
  const sim::Bytes& bytes = s.reader.records[record];
  const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(sim::kWriteLimit[record]));
  if (n) std::memcpy(out, bytes.data(), n);
  return n;
}

// The entry points' work, one function per entry point of the list, named after it; the
// exports below pass their prefix on.
namespace entry {

int OpenPort(SimPrefix prefix, int port) {
  return run(prefix, SIM_OPEN_PORT, port, 0, [&](sim::State& s) {
    if (port != s.reader.port || !serves(port)) return drv::kStatusOne;
    s.open_ports.insert(port);
    return drv::kOk;
  });
}

int ClosePort(SimPrefix prefix, int port) {
  return run(prefix, SIM_CLOSE_PORT, port, 0, [&](sim::State& s) {
    return s.open_ports.erase(port) ? drv::kOk : drv::kStatusOne;
  });
}

int SetMaxRFByte(SimPrefix prefix, int port, unsigned char, int flag) {
  return run(prefix, SIM_SET_MAX_RF_BYTE, port, flag, [&](sim::State& s) {
    return s.is_open(port) ? drv::kOk : drv::kStatusOne;
  });
}

// GetCOMBaud has no trailing integer: journalled with value 0.
int GetCOMBaud(SimPrefix prefix, int port, unsigned int* baud) {
  return run(prefix, SIM_GET_COM_BAUD, port, 0, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (baud) *baud = kBaud;
    return drv::kOk;
  });
}

// SetCOMBaud's trailing integer is the wanted rate.
int SetCOMBaud(SimPrefix prefix, int port, unsigned int, unsigned int wanted) {
  return run(prefix, SIM_SET_COM_BAUD, port, static_cast<int>(wanted), [&](sim::State& s) {
    return s.is_open(port) ? drv::kOk : drv::kStatusOne;
  });
}

int ResetSAM(SimPrefix prefix, int port, int flag) {
  return run(prefix, SIM_RESET_SAM, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    return s.reader.faults.sam_not_answering ? kSamNotAnswering : drv::kOk;
  });
}

int GetSAMStatus(SimPrefix prefix, int port, int flag) {
  return run(prefix, SIM_GET_SAM_STATUS, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    return s.reader.faults.sam_not_answering ? kSamNotAnswering : drv::kOk;
  });
}

int GetSAMID(SimPrefix prefix, int port, unsigned char* id, int flag) {
  return run(prefix, SIM_GET_SAM_ID, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!id) return kNullPointer;
    if (s.reader.faults.sam_not_answering) return kSamNotAnswering;
    copy_record(s, SIM_REC_SAM_ID, id);
    return drv::kOk;
  });
}

int GetSAMIDToStr(SimPrefix prefix, int port, char* text, int flag) {
  return run(prefix, SIM_GET_SAM_ID_TO_STR, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!text) return kNullPointer;
    if (s.reader.faults.sam_not_answering) return kSamNotAnswering;
    copy_record(s, SIM_REC_SAM_ID_TEXT, text);
    return drv::kOk;
  });
}

int StartFindIDCard(SimPrefix prefix, int port, unsigned char* buffer, int flag) {
  return run(prefix, SIM_START_FIND_ID_CARD, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!buffer) return kNullPointer;
    if (!s.card_found()) return drv::kFindNothing;
    std::memcpy(buffer, kFindReply, sizeof kFindReply);
    return drv::kCardFound;
  });
}

int SelectIDCard(SimPrefix prefix, int port, unsigned char* buffer, int flag) {
  return run(prefix, SIM_SELECT_ID_CARD, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!buffer) return kNullPointer;
    if (s.card_missing()) return kNoCard;
    std::memcpy(buffer, kSelectReply, sizeof kSelectReply);
    return drv::kOk;
  });
}

int ReadBaseMsg(SimPrefix prefix, int port, unsigned char* text, unsigned int* text_length,
                  unsigned char* photo, unsigned int* photo_length, int flag) {
  return run(prefix, SIM_READ_BASE_MSG, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!text || !text_length || !photo || !photo_length) return kNullPointer;
    if (s.card_missing()) return kNoCard;
    copy_record(s, SIM_REC_IDENTITY, text);
    copy_record(s, SIM_REC_PHOTO, photo);
    *text_length = s.reader.reported_length(SIM_REC_IDENTITY);
    *photo_length = s.reader.reported_length(SIM_REC_PHOTO);
    s.card_was_read = true;
    return drv::kOk;
  });
}

int ReadMngInfo(SimPrefix prefix, int port, unsigned char* info, int flag) {
  return run(prefix, SIM_READ_MNG_INFO, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!info) return kNullPointer;
    if (s.card_missing()) return kNoCard;
    copy_record(s, SIM_REC_MNG_INFO, info);
    return drv::kOk;
  });
}

int ReadNewAppMsg(SimPrefix prefix, int port, unsigned char* message, unsigned int* length,
                  int flag) {
  return run(prefix, SIM_READ_NEW_APP_MSG, port, flag, [&](sim::State& s) {
    if (!s.is_open(port)) return drv::kStatusOne;
    if (!message || !length) return kNullPointer;
    if (s.card_missing()) return kNoCard;
    // An empty record is a card without appended address: nothing copied.
    const bool none = s.reader.records[SIM_REC_APPENDED_ADDRESS].empty();
    if (!none) copy_record(s, SIM_REC_APPENDED_ADDRESS, message);
    *length = s.reader.reported_length(SIM_REC_APPENDED_ADDRESS);
    return none ? drv::kNoAppendedAddress : drv::kOk;
  });
}

// ANT exists under the QDX prefix only.
int ANT(SimPrefix prefix, int port, int value) {
  return run(prefix, SIM_ANT, port, value, [&](sim::State& s) {
    return s.is_open(port) ? drv::kOk : drv::kStatusOne;
  });
}

}  // namespace entry
}  // namespace

// A partial driver (SIM_PARTIAL_DRIVER) stands for a driver that misses entry points, for the cases
// of the libraries that bind them: it exports ReadNewAppMsg under both prefixes and QDX_ANT under
// other names, which nothing looks up.
#if defined(SIM_PARTIAL_DRIVER)
#define QDX_ReadNewAppMsg Missing_QDX_ReadNewAppMsg
#define SDT_ReadNewAppMsg Missing_SDT_ReadNewAppMsg
#define QDX_ANT Missing_QDX_ANT
#endif

// Every driver entry point of the list under each of its prefixes: <PREFIX>_<Name> lets the faults
// hang and crash strike first, then forwards to entry::<Name> with its prefix (or, playing a
// recording back, to the replay), and its type must be the contract's drv::<Name>Fn.
#define SIM_EXPAND(...) __VA_ARGS__
#define SIM_WITH_PREFIX(prefix, ...) (prefix, __VA_ARGS__)
#define SIM_EXPORT_UNDER(PREFIX, Name, NAME, parameters, arguments)                          \
  extern "C" SIM_EXPORT int WINAPI PREFIX##_##Name parameters {                              \
    sim::strike(SIM_##NAME);                                                                 \
    if (std::optional<int> replayed = replayed_call(SIM_PREFIX_##PREFIX, SIM_##NAME,         \
                                                    #arguments, SIM_EXPAND arguments))       \
      return *replayed;                                                                      \
    return entry::Name SIM_WITH_PREFIX(SIM_PREFIX_##PREFIX, SIM_EXPAND arguments);           \
  }                                                                                          \
  static_assert(std::is_same_v<decltype(&PREFIX##_##Name), drv::Name##Fn>, #Name);
#define SIM_EXPORTS_QDX_SDT(Name, NAME, parameters, arguments) \
  SIM_EXPORT_UNDER(QDX, Name, NAME, parameters, arguments)     \
  SIM_EXPORT_UNDER(SDT, Name, NAME, parameters, arguments)
#define SIM_EXPORTS_QDX(Name, NAME, parameters, arguments) \
  SIM_EXPORT_UNDER(QDX, Name, NAME, parameters, arguments)
#define SIM_EXPORTS_DECODER(Name, NAME, parameters, arguments)  // the decoder's own (decoder.cpp)
#define SIM_EXPORTS(Name, NAME, prefixes, parameters, arguments) \
  SIM_EXPORTS_##prefixes(Name, NAME, parameters, arguments)

RIDEL_DRIVER_ENTRY_POINTS(SIM_EXPORTS)
