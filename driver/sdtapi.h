// The contract with the outside reader driver (sdtapi.dll / stdapi.dll) and photo decoder
// (WltRS.dll): entry-point types, status codes and port-number rules. Every editions' calls go
// through these types; the simulator implements them.
#pragma once

#include <algorithm>
#include <cstddef>

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

// ---- Library and entry-point names --------------------------------------------------------------
inline constexpr const char kUsbDriverFile[] = "sdtapi.dll";
inline constexpr const char kSerialDriverFile[] = "stdapi.dll";
inline constexpr const char kDecoderFile[] = "WltRS.dll";
inline constexpr const char kGetBmpName[] = "GetBmp";

// ---- Entry-point types (both prefixes share them) -----------------------------------------------
using OpenPortFn = int(WINAPI*)(int port);
using ClosePortFn = int(WINAPI*)(int port);
using SetMaxRFByteFn = int(WINAPI*)(int port, unsigned char value, int flag);
using GetCOMBaudFn = int(WINAPI*)(int port, unsigned int* baud);
using SetCOMBaudFn = int(WINAPI*)(int port, unsigned int current, unsigned int wanted);
using ResetSAMFn = int(WINAPI*)(int port, int flag);
using GetSAMStatusFn = int(WINAPI*)(int port, int flag);
using GetSAMIDFn = int(WINAPI*)(int port, unsigned char* id, int flag);
using GetSAMIDToStrFn = int(WINAPI*)(int port, char* text, int flag);
using StartFindIDCardFn = int(WINAPI*)(int port, unsigned char* buffer, int flag);
using SelectIDCardFn = int(WINAPI*)(int port, unsigned char* buffer, int flag);
using ReadBaseMsgFn = int(WINAPI*)(int port, unsigned char* text, unsigned int* text_length,
                                   unsigned char* photo, unsigned int* photo_length, int flag);
using ReadMngInfoFn = int(WINAPI*)(int port, unsigned char* info, int flag);
using ReadNewAppMsgFn = int(WINAPI*)(int port, unsigned char* message, unsigned int* length,
                                     int flag);
using AntFn = int(WINAPI*)(int port, int value);
using GetBmpFn = int(WINAPI*)(char* wlt_path, int selector);

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
