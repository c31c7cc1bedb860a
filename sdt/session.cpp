// Port discovery and session. OpenComm prefers a reader on any USB port over the port that the
// application names.
#include "driver/sdt_imports.h"
#include "sdt/state.h"

namespace sdt {
namespace {

void fill_nation_names(State& s) {
  for (int code = 1; code < nation::kSdtEntries; ++code) s.nations[code] = nation::sdt_name(code);
}

// Tries the USB ports 1001 to 1016 in turn and keeps the first that opens and whose SAM answers.
// A port that opened but whose SAM did not answer is left as it is. When none answers, the
// caller's port is opened, without a SAM query, and its status is the result.
int open_comm(int port) {
  State& s = state;
  fill_nation_names(s);
  for (int usb = drv::kFirstUsbPort; usb <= drv::kLastUsbPort; ++usb) {
    s.port = usb;
    if (SDT_OpenPort(usb) == drv::kOk && SDT_GetSAMStatus(usb, kDriverFlag) == drv::kOk)
      return RIDEL_SDT_OK;
  }
  s.port = port;
  return result_of(SDT_OpenPort(port));
}

// Closes the current port; the port number stays current for later calls.
int close_comm() { return result_of(SDT_ClosePort(state.port)); }

// The driver writes the SAM's identity straight into the caller's buffer; a null buffer is
// refused here rather than handed to a driver that would write through it.
static_assert(RIDEL_SDT_SAM_ID_BYTES == drv::kSamIdBytes,
              "the header's SAM ID size is the driver's");
int sam_id(unsigned char* id) {
  if (!id) return RIDEL_SDT_NONE;
  return SDT_GetSAMID(state.port, id, kDriverFlag) == drv::kOk ? RIDEL_SDT_OK : RIDEL_SDT_NONE;
}

}  // namespace
}  // namespace sdt

extern "C" {

int WINAPI OpenComm(int port) { return sdt::open_comm(port); }
int WINAPI CloseComm() { return sdt::close_comm(); }
int WINAPI GetSamID(unsigned char* id) { return sdt::sam_id(id); }

}  // extern "C"
