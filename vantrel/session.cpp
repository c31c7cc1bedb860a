// Port control and card authentication, and the two exports that go straight to the driver.
#include "include/vantrel.h"
#include "vantrel/error_log.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

int init_comm(int port) {
  Reader& r = reader;
  // Another open port is closed first; only a result of 0 stops the open.
  bool failed = r.port != kNoPort && r.port != port && call(r.entries.close_port, r.port) == 0;
  failed = !switch_driver(port) || failed;
  if (failed) {
    log_error(kMsgCloseComm, 0, "_InitComm");
    r.port = kNoPort;
    return 0;
  }
  int status = call(r.entries.open_port, port);
  if (status != drv::kOk) {
    log_error(kMsgOpenPort, status, "_InitComm");
    return 0;
  }
  r.port = port;
  status = call(r.entries.get_sam_status, port, r.flag);
  if (status != drv::kOk) {
    call(r.entries.close_port, port);
    // The port stays the current one although it is closed again.
    log_error(kMsgSamStatus, status, "GetSAMStatus");
    return 0;
  }
  return 1;
}

int close_comm() {
  Reader& r = reader;
  if (r.port == kNoPort) return 1;
  const int status = call(r.entries.close_port, r.port);
  if (status != drv::kOk) {
    log_error(kMsgCloseComm, status, "_CloseComm");
    return 0;
  }
  r.port = kNoPort;
  return 1;
}

int authenticate() {
  Reader& r = reader;
  if (r.port == kNoPort) return 0;
  int status = call(r.entries.get_sam_status, r.port, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgSamStatus, status, "_Authenticate");
    return 0;
  }
  // What the driver writes into these is never looked at.
  unsigned char find_scratch[5] = {};
  status = call(r.entries.start_find_id_card, r.port, find_scratch, r.flag);
  if (status != drv::kCardFound) {
    log_error(kMsgFindCard, status, "_Authenticate");
    return 0;
  }
  unsigned char select_scratch[9] = {};
  status = call(r.entries.select_id_card, r.port, select_scratch, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgSelectCard, status, "_Authenticate");
    return 0;
  }
  return 1;
}

}  // namespace
}  // namespace vantrel

using namespace vantrel;

extern "C" {

RIDEL_EXPORT int WINAPI InitComm(int port) {
  return init_comm(port);
}

RIDEL_EXPORT int WINAPI CloseComm() {
  return close_comm();
}

RIDEL_EXPORT int WINAPI Authenticate() {
  return authenticate();
}

// The application names the port itself; whether one is open is the driver's business.
RIDEL_EXPORT int WINAPI GetSAMIDToStr(int port, char* text, int flag) {
  return call(reader.entries.get_sam_id_to_str, port, text, flag);
}

RIDEL_EXPORT int WINAPI ReadMngInfo(int port, unsigned char* data, int flag) {
  return call(reader.entries.read_mng_info, port, data, flag);
}

}  // extern "C"
