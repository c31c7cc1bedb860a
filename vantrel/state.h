// The module-wide state of the vantrel edition: the reader object, which every export works on.
// One thread at a time uses it.
#pragma once

#include "driver/binding.h"
#include "driver/sdtapi.h"
#include "platform/abi.h"
#include "platform/platform.h"
#include "vantrel/field_store.h"

// The exports, declared once in the public header and exported from here.
#define VANTREL_API RIDEL_EXPORT
#include "include/vantrel.h"

namespace vantrel {

// The current port number while no port is open.
inline constexpr int kNoPort = 1000;
// Room for the output folder, its terminating zero included.
inline constexpr int kOutputFolderRoom = 2561;

// Every member starts as zero bytes, which keeps the object out of the library's file; set-up
// gives the port its no-port value.
struct Reader {
  plat::Module driver = nullptr;         // the loaded sdtapi.dll or stdapi.dll
  bool serial_driver = false;            // which of the two `driver` is
  plat::Module decoder = nullptr;        // the loaded WltRS.dll
  plat::Module resources = nullptr;      // source of every string-table text
  plat::FixedText<kOutputFolderRoom> output_folder;  // ends with a separator; empty when unknown
  int port = 0;                          // the port the last InitComm opened
  int flag = 0;                          // the trailing argument of every driver call that has one
  // The driver's SDT_ entry points, null where a name is missing or no driver library is loaded,
  // and the decoder's GetBmp, which survives a driver switch.
  drv::EntryPoints entries;
  FieldStore store;
};

// The reader object (setup.cpp), constant-initialised: whole before the load notification runs,
// and zero bytes, so that its 100 KB take no room in the library's file.
extern Reader reader;

// Makes the driver library in use the one that serves `port`, before InitComm opens it: keeps
// the loaded one by the port-number rule, or frees it and loads the other family's library.
// False when that one cannot be loaded; nothing is bound then.
bool switch_driver(int port);

using drv::bounded;
using drv::call;

}  // namespace vantrel
