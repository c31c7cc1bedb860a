// Load and unload: where the result files go, and the driver and decoder bound by name.
#include "platform/library_main.h"
#include "platform/platform.h"
#include "qdx/state.h"

// The operating system's load notifications: the only system-specific part of the edition.
RIDEL_LIBRARY_MAIN(qdx::attach, qdx::detach)

namespace qdx {

constinit Setup setup{};
constinit Session session{};
constinit Records records{};

namespace {

// This edition's spelling of the decoder's file name.
constexpr char kDecoderFile[] = "WltRs.dll";

template <class Fn>
void bind(Fn& slot, plat::Module library, const char* name) {
  slot = reinterpret_cast<Fn>(plat::entry_point(library, name));
}

// Loads the driver and the decoder and looks up the sixteen entry points, in this order. A
// library or name that is missing leaves its entries empty.
void bind_driver_and_decoder() {
  EntryPoints& e = setup.entry;
  plat::Module driver = plat::load_library(drv::kUsbDriverFile);
  setup.driver_library = driver;
  bind(e.open_port, driver, "QDX_OpenPort");
  bind(e.close_port, driver, "QDX_ClosePort");
  bind(e.set_max_rf_byte, driver, "QDX_SetMaxRFByte");
  bind(e.get_com_baud, driver, "QDX_GetCOMBaud");
  bind(e.set_com_baud, driver, "QDX_SetCOMBaud");
  bind(e.reset_sam, driver, "QDX_ResetSAM");
  bind(e.get_sam_status, driver, "QDX_GetSAMStatus");
  bind(e.get_sam_id, driver, "QDX_GetSAMID");
  bind(e.get_sam_id_to_str, driver, "QDX_GetSAMIDToStr");
  bind(e.start_find_id_card, driver, "QDX_StartFindIDCard");
  bind(e.select_id_card, driver, "QDX_SelectIDCard");
  bind(e.read_base_msg, driver, "QDX_ReadBaseMsg");
  bind(e.read_mng_info, driver, "QDX_ReadMngInfo");
  bind(e.read_new_app_msg, driver, "QDX_ReadNewAppMsg");
  bind(e.ant, driver, "QDX_ANT");

  plat::Module decoder = plat::load_library(kDecoderFile);
  setup.decoder_library = decoder;
  bind(e.get_bmp, decoder, drv::kGetBmpName);
}

}  // namespace

void attach() {
  setup.output_folder = plat::executable_folder_in<kPathBuffer>();
  bind_driver_and_decoder();
}

void detach() {
  plat::free_library(setup.decoder_library);
  plat::free_library(setup.driver_library);
  setup = Setup{};  // no entry point of a freed library stays behind
}

}  // namespace qdx
