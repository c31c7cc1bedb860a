// The QDX edition's module-wide state, from load to unload: what set-up fills in (the output
// folder and the driver's and decoder's entry points), the port session, and the record buffers
// that the reads share. Everything here is plain data, defined in setup.cpp and constant-
// initialised to zero bytes (so it takes no room in the library's file); one thread at a time
// uses it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "driver/binding.h"
#include "driver/sdtapi.h"
#include "platform/abi.h"
#include "platform/platform.h"

// The exports, declared once in the public header and exported from here.
#define RIDEL_QDX_API RIDEL_EXPORT
#include "include/ridel_qdx.h"

namespace qdx {

// ---- Set up at load (setup.cpp) --------------------------------------------------------------

// The executable's path is taken into a buffer of this size: at most 260 characters of it, so the
// output folder is known only when it lies within them.
inline constexpr std::size_t kOutputFolderRoom = 261;

struct Setup {
  // The folder of the process's executable, ending in a separator, zero-terminated. Empty when it
  // is unknown or does not lie within the path buffer: then no result file can be written.
  plat::FixedText<kOutputFolderRoom> output_folder;
  // The driver's QDX_ entry points and the decoder's, empty where a library or name was not
  // found. SetMaxRFByte, GetCOMBaud, SetCOMBaud, ResetSAM and GetSAMID are bound but not called.
  drv::EntryPoints entry;
  plat::Module driver_library;   // null when it did not load
  plat::Module decoder_library;
};
extern Setup setup;

// Runs when the library is loaded into a process, and when it is unloaded.
void attach();
void detach();

// ---- The port session (session.cpp) -------------------------------------------------------------

struct Session {
  int port;         // the port of the last open that passed both driver checks
  bool open;        // set by the first open that read the SAM ID; nothing clears it
  int sam_number;   // the fourth group of the SAM ID, names the mode-6 files
};
extern Session session;

// The open of InitComm, also used by QDX_Ant to reopen.
int open_port(int port);
int close_port();

// The SAM number in a SAM ID string such as "0511-20180418-0000036512-0000123456": the value of
// the fourth dash-separated group (wrapping in 32 bits), ending at its first non-digit. Reads at
// most the kSamIdBytes of the buffer.
inline constexpr std::size_t kSamIdBytes = drv::kSamIdTextBytes;
int sam_number_of(const char (&sam_id)[kSamIdBytes]);

// ---- The card's records (reading.cpp fills and writes them) -------------------------------------

struct Records {
  unsigned char identity[drv::kIdentityBytes];
  unsigned int identity_length;
  unsigned char photo[drv::kPhotoBytes];
  unsigned int photo_length;
  unsigned char appended_address[drv::kAppendedAddressBytes];
  unsigned int appended_address_length;
  unsigned char management_info[drv::kManagementInfoBytes];
};
extern Records records;

// Reads the base message into `records` on the session's port; true on the driver's success.
bool read_base_message();

// ---- Calling the driver -------------------------------------------------------------------------

using drv::bounded;
using drv::call;

// The driver flag argument of every driver call.
inline constexpr int kFlag = 0;

}  // namespace qdx
