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

// Loads the driver and the decoder and looks up the sixteen entry points, in this order. A
// library or name that is missing leaves its entries empty.
void bind_driver_and_decoder() {
  setup.driver_library = plat::load_library(drv::kUsbDriverFile);
  drv::bind_driver(setup.entry, drv::Prefix::Qdx, setup.driver_library);
  setup.decoder_library = plat::load_library(kDecoderFile);
  drv::bind_decoder(setup.entry, setup.decoder_library);
}

}  // namespace

void attach() {
  setup.output_folder = plat::executable_folder_in<kOutputFolderRoom>();
  bind_driver_and_decoder();
}

void detach() {
  plat::free_library(setup.decoder_library);
  plat::free_library(setup.driver_library);
  setup = Setup{};  // no entry point of a freed library stays behind
}

}  // namespace qdx
