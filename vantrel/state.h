// The module-wide state of the vantrel edition: the reader object, which every export works on.
// One thread at a time uses it.
#pragma once

#include "driver/sdtapi.h"
#include "platform/platform.h"
#include "vantrel/field_store.h"

namespace vantrel {

// The current port number while no port is open.
inline constexpr int kNoPort = 1000;
// Room for the output folder, its terminating zero included.
inline constexpr int kFolderRoom = 2561;

// The driver library's entry points, looked up by name; nullptr where a name is missing or no
// driver library is loaded.
struct DriverEntries {
  drv::GetCOMBaudFn get_com_baud = nullptr;
  drv::SetCOMBaudFn set_com_baud = nullptr;
  drv::OpenPortFn open_port = nullptr;
  drv::ClosePortFn close_port = nullptr;
  drv::GetSAMStatusFn get_sam_status = nullptr;
  drv::ResetSAMFn reset_sam = nullptr;
  drv::SetMaxRFByteFn set_max_rf_byte = nullptr;
  drv::GetSAMIDFn get_sam_id = nullptr;
  drv::GetSAMIDToStrFn get_sam_id_to_str = nullptr;
  drv::StartFindIDCardFn start_find_id_card = nullptr;
  drv::SelectIDCardFn select_id_card = nullptr;
  drv::ReadBaseMsgFn read_base_msg = nullptr;
  drv::ReadMngInfoFn read_mng_info = nullptr;
  drv::ReadNewAppMsgFn read_new_app_msg = nullptr;
};

// Every member starts as zero bytes, which keeps the object out of the library's file; set-up
// gives the port its no-port value.
struct Reader {
  plat::Module driver = nullptr;         // the loaded sdtapi.dll or stdapi.dll
  bool serial_driver = false;            // which of the two `driver` is
  plat::Module decoder = nullptr;        // the loaded WltRS.dll
  plat::Module resources = nullptr;      // source of every string-table text
  plat::FixedText<kFolderRoom> output_folder;  // ends with a path separator; empty when unknown
  int port = 0;                          // the port the last InitComm opened
  int flag = 0;                          // the trailing argument of every driver call that has one
  DriverEntries entries;
  drv::GetBmpFn get_bmp = nullptr;  // bound in the decoder library; survives a driver switch
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
