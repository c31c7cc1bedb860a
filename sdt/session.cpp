// Port discovery and session. OpenComm prefers a reader on any USB port over the port that the
// application names.
#include "driver/sdt_imports.h"
#include "sdt/state.h"

namespace sdt {
namespace {

void fill_nation_names(State& s) {
  for (int code = 1; code < nation::kSdtEntries; ++code) s.nations[code] = nation::sdt_name(code);
}

}  // namespace
}  // namespace sdt

// Tries the USB ports 1001 to 1016 in turn and keeps the first that opens and whose SAM answers.
// A port that opened but whose SAM did not answer is left as it is. When none answers, the
// caller's port is opened, without a SAM query, and its status is the result.
extern "C" RIDEL_EXPORT int WINAPI OpenComm(int port) {
  sdt::State& s = sdt::state;
  sdt::fill_nation_names(s);
  for (int usb = drv::kFirstUsbPort; usb <= drv::kLastUsbPort; ++usb) {
    s.port = usb;
    if (SDT_OpenPort(usb) == drv::kOk && SDT_GetSAMStatus(usb, sdt::kDriverFlag) == drv::kOk)
      return RIDEL_SDT_OK;
  }
  s.port = port;
  return sdt::result_of(SDT_OpenPort(port));
}

// Closes the current port; the port number stays current for later calls.
extern "C" RIDEL_EXPORT int WINAPI CloseComm() {
  return sdt::result_of(SDT_ClosePort(sdt::state.port));
}

// The driver writes the SAM's identity straight into the caller's buffer; a null buffer is
// refused here rather than handed to a driver that would write through it.
extern "C" RIDEL_EXPORT int WINAPI GetSamID(unsigned char* id) {
  if (!id) return RIDEL_SDT_NONE;
  return SDT_GetSAMID(sdt::state.port, id, sdt::kDriverFlag) == drv::kOk ? RIDEL_SDT_OK
                                                                             : RIDEL_SDT_NONE;
}
