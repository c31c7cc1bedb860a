// Port control and card authentication, and the two exports that go straight to the driver.
#include "vantrel/error_log.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
namespace {

int init_comm(int port) {
  Reader& r = reader;
  // Another open port is closed first; only a result of 0 stops the open.
  bool failed = r.port != kNoPort && r.port != port && call(r.entries.ClosePort, r.port) == 0;
  failed = !switch_driver(port) || failed;
  if (failed) {
    log_error(kMsgCloseComm, 0, "_InitComm");
    r.port = kNoPort;
    return 0;
  }
  int status = call(r.entries.OpenPort, port);
  if (status != drv::kOk) {
    log_error(kMsgOpenPort, status, "_InitComm");
    return 0;
  }
  r.port = port;
  status = call(r.entries.GetSAMStatus, port, r.flag);
  if (status != drv::kOk) {
    call(r.entries.ClosePort, port);
    // The port stays the current one although it is closed again.
    log_error(kMsgSamStatus, status, "GetSAMStatus");
    return 0;
  }
  return 1;
}

int close_comm() {
  Reader& r = reader;
  if (r.port == kNoPort) return 1;
  const int status = call(r.entries.ClosePort, r.port);
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
  int status = call(r.entries.GetSAMStatus, r.port, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgSamStatus, status, "_Authenticate");
    return 0;
  }
  // What the driver writes into these is never looked at.
  unsigned char find_scratch[5] = {};
  status = call(r.entries.StartFindIDCard, r.port, find_scratch, r.flag);
  if (status != drv::kCardFound) {
    log_error(kMsgFindCard, status, "_Authenticate");
    return 0;
  }
  unsigned char select_scratch[9] = {};
  status = call(r.entries.SelectIDCard, r.port, select_scratch, r.flag);
  if (status != drv::kOk) {
    log_error(kMsgSelectCard, status, "_Authenticate");
    return 0;
  }
  return 1;
}

// The application names the port itself; whether one is open is the driver's business.
int sam_id_text(int port, char* text, int flag) {
  return call(reader.entries.GetSAMIDToStr, port, text, flag);
}

int management_info(int port, unsigned char* data, int flag) {
  return call(reader.entries.ReadMngInfo, port, data, flag);
}

}  // namespace
}  // namespace vantrel

extern "C" {

int WINAPI InitComm(int port) { return vantrel::init_comm(port); }
int WINAPI CloseComm() { return vantrel::close_comm(); }
int WINAPI Authenticate() { return vantrel::authenticate(); }
int WINAPI GetSAMIDToStr(int port, char* text, int flag) {
  return vantrel::sam_id_text(port, text, flag);
}
int WINAPI ReadMngInfo(int port, unsigned char* data, int flag) {
  return vantrel::management_info(port, data, flag);
}

}  // extern "C"
