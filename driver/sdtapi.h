// The contract with the outside reader driver (sdtapi.dll / stdapi.dll) and photo decoder
// (WltRS.dll): entry-point types, status codes and port-number rules. Every edition's calls go
// through these types; the simulator implements them. The entry points themselves are listed in
// entry_points.h.
#pragma once

#include <algorithm>
#include <cstddef>

#include "driver/entry_points.h"
#include "platform/abi.h"

namespace drv {

// ---- Status codes -------------------------------------------------------------------------------
// Every driver entry point returns one; callers compare it as a whole.
inline constexpr int kOk = 0x90;            // success
inline constexpr int kCardFound = 0x9F;     // StartFindIDCard found a card
inline constexpr int kNoAppendedAddress = 0x91;  // ReadNewAppMsg: the card has none
inline constexpr int kFindNothing = 0x80;   // StartFindIDCard: nothing found (SDT edition: 0)
inline constexpr int kStatusOne = 0x01;     // reported as -10 by the SDT edition

// GetBmp's success result.
inline constexpr int kDecodeOk = 1;

// ---- Port numbers -------------------------------------------------------------------------------
inline constexpr int kFirstUsbPort = 1001;
inline constexpr int kLastUsbPort = 1016;
inline constexpr int kLastSerialPort = 1000;  // every number up to this one counts as serial

inline constexpr bool is_usb_port(int port) { return port > kLastSerialPort; }
inline constexpr bool is_serial_port(int port) { return port <= kLastSerialPort; }

// GetBmp's interface selector.
inline constexpr int kSelectorSerial = 1;
inline constexpr int kSelectorUsb = 2;
inline constexpr int decoder_selector(int port) {
  return is_usb_port(port) ? kSelectorUsb : kSelectorSerial;
}

// ---- Record sizes the driver delivers -----------------------------------------------------------
inline constexpr int kIdentityBytes = 256;
inline constexpr int kPhotoBytes = 1024;
inline constexpr int kAppendedAddressBytes = 280;
inline constexpr int kManagementInfoBytes = 28;
// The SAM's ID: GetSAMID writes its raw bytes, GetSAMIDToStr its text with the terminator.
inline constexpr int kSamIdBytes = 16;
inline constexpr int kSamIdTextBytes = 40;

// ---- Library names ------------------------------------------------------------------------------
inline constexpr const char kUsbDriverFile[] = "sdtapi.dll";
inline constexpr const char kSerialDriverFile[] = "stdapi.dll";
inline constexpr const char kDecoderFile[] = "WltRS.dll";

// ---- Entry-point types, one per entry point of the list (both prefixes share them) -------------
// OpenPortFn, ClosePortFn, ..., ANTFn, GetBmpFn.
#define DRV_ENTRY_POINT_TYPE(Name, NAME, prefixes, parameters, arguments) \
  using Name##Fn = int(WINAPI*) parameters;
RIDEL_DRIVER_ENTRY_POINTS(DRV_ENTRY_POINT_TYPE)
#undef DRV_ENTRY_POINT_TYPE

// ---- Calling the driver and reading its answers ------------------------------------------------

// What calling an entry point that is not bound gives: 0, which no caller takes for success (the
// driver's successes are 0x90, 0x9F and 0x91, the decoder's is 1).
inline constexpr int kNotBound = 0;

// Calls a driver or decoder entry point that was looked up by name, or gives kNotBound without a
// call when it was not found.
template <class Fn, class... Args>
int call(Fn entry, Args... args) {
  return entry ? entry(args...) : kNotBound;
}

// A length the driver reported, bounded by the buffer it was given: never copy or write more than
// the buffer holds.
constexpr std::size_t bounded(unsigned int reported, std::size_t capacity) {
  return std::min<std::size_t>(reported, capacity);
}

}  // namespace drv
