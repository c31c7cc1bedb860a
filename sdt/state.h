// The SDT edition's module-wide state and the rules that its session, reading and getters share.
// Everything lives from load to unload; nothing is guarded, since one application thread at a
// time uses the library.
#pragma once

#include "common/nation.h"
#include "common/record.h"
#include "driver/sdtapi.h"
#include "platform/abi.h"

#define RIDEL_SDT_API RIDEL_EXPORT
#include "include/ridel_sdt.h"

namespace sdt {

// The driver flag argument that ends every driver call of this edition.
inline constexpr int kDriverFlag = 1;

// The buffers handed to the driver.
inline constexpr int kTextBufferBytes = 1024;
inline constexpr int kPhotoBufferBytes = 2048;
inline constexpr int kMessageBufferBytes = 2048;

// The executable's path is taken as if fetched into this many bytes, terminator included: the
// output folder is known only when it lies within them.
inline constexpr std::size_t kOutputFolderRoom = 128;

// A value for display: a field's text, never wider than the field (rec::FieldText), or a word or
// dashed date that is shorter still.
using Value = rec::FieldText;

// The nine values of a base-message read, converted for display (ANSI text).
struct Card {
  Value name;
  Value sex;     // a sex word
  Value nation;  // a nation name
  Value birth;   // dashed
  Value address;
  Value id_number;
  Value authority;
  Value valid_from;  // dashed
  Value valid_to;    // dashed
};

// A result file's path: the output folder and a file name.
using ResultPath = plat::FixedText<kOutputFolderRoom + 16>;

// What the getters hand out. Each value keeps its content until a later read overwrites it.
struct FieldStore {
  Card card;                // written by read types 1, 2 and 5
  Value appended_address;   // written by read type 3
  ResultPath photo_path;    // written by read type 1: <output folder>zp.bmp, or empty
};

// Everything starts as zero bytes, constant-initialised, before the library's code runs.
struct State {
  // The port of every driver call; 0 until OpenComm sets it. Nothing records whether it is open.
  int port = 0;
  // Nation names by code; OpenComm fills entries 1 to 56, and until then every entry is null,
  // which reads as the empty text.
  const char* nations[nation::kSdtEntries] = {};
  // Shared by the find, select, appended-address and management-information calls.
  unsigned char message[kMessageBufferBytes] = {};
  FieldStore store;
};

// The edition's state (setup.cpp), constant-initialised: whole before the library's code runs,
// and zero bytes, so it takes no room in the library's file.
extern State state;

// A failing driver status as this edition reports it: status 1 becomes -10, every other one is
// handed on unchanged.
constexpr int failure_of(int status) {
  return status == drv::kStatusOne ? RIDEL_SDT_DRIVER_FAILED : status;
}

// A driver status where 0x90 is success: 1, else as failure_of.
constexpr int result_of(int status) {
  return status == drv::kOk ? RIDEL_SDT_OK : failure_of(status);
}

}  // namespace sdt
