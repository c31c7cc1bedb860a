// Set-up and tear-down of the reader object, binding of the driver and decoder, and the exchange
// of the USB and serial driver libraries.
#include <cstdlib>

#include "platform/library_main.h"
#include "vantrel/error_log.h"
#include "vantrel/state.h"
#include "vantrel/strings.h"

namespace vantrel {
void set_up();
void tear_down();
}  // namespace vantrel

// The operating system's load notifications.
RIDEL_LIBRARY_MAIN(vantrel::set_up, vantrel::tear_down)

namespace vantrel {

constinit Reader reader{};

namespace {

plat::Module load_named(unsigned name) {
  char file[kFileNameRoom];
  load_text(name, file);
  return plat::load_library(file);
}

// The strings come from the module loaded as ridel.dll. On POSIX the library is never known by
// that name, and its own module is the one that holds the table.
plat::Module find_resources() {
#if defined(_WIN32)
  if (plat::Module m = plat::find_loaded_module(VANTREL_MODULE_FILE)) return m;
#endif
  return plat::own_module();
}

// Loads the USB driver and the decoder and binds their entry points. A library that does not
// load is logged and ends the binding; a missing entry point is left unbound.
void bind_at_set_up(Reader& r) {
  r.driver = load_named(kUsbDriverFile);
  r.serial_driver = false;
  if (!r.driver) {
    log_error(kMsgLoadDriver, static_cast<int>(plat::last_error()), "LoadLibrary");
    return;
  }
  r.decoder = load_named(kDecoderFile);
  if (!r.decoder) {
    log_error(kMsgLoadDecoder, static_cast<int>(plat::last_error()), "LoadLibrary");
    return;
  }
  drv::bind_driver(r.entries, drv::Prefix::Sdt, r.driver);
  drv::bind_decoder(r.entries, r.decoder);
}

// Whether the loaded driver library stays for `port` while `current` is the current port number.
// The no-port value 1000 lies within 16 of the USB ports, so the USB driver of the set-up serves
// 1001 to 1016 without a switch, and the first serial port always switches.
constexpr long long kSameFamilyDistance = 16;

bool keeps_driver(const Reader& r, int current, int port) {
  if (!r.driver) return false;  // nothing loaded to keep: load the one the port needs
  // After a serial port was closed the rule below would keep the serial driver for a USB port.
  if (current == kNoPort && r.serial_driver && drv::is_usb_port(port)) return false;
  if (current == 0 && drv::is_usb_port(port)) return true;
  return port == current ||
         std::llabs(static_cast<long long>(port) - current) <= kSameFamilyDistance;
}

}  // namespace

void set_up() {
  Reader& r = reader;
  r.port = kNoPort;
  r.flag = 0;
  r.resources = find_resources();
  // A folder too long to keep stays unknown: no result file is made then.
  r.output_folder = plat::executable_folder_in<kOutputFolderRoom>();
  r.store.clear();
  bind_at_set_up(r);
}

void tear_down() {
  Reader& r = reader;
  plat::free_library(r.driver);
  plat::free_library(r.decoder);
  r.driver = r.decoder = nullptr;
  r.entries = {};
}

bool switch_driver(int port) {
  Reader& r = reader;
  if (keeps_driver(r, r.port, port)) return true;
  // Nothing may be called through the freed library: its entries go with it.
  plat::free_library(r.driver);
  r.driver = nullptr;
  drv::unbind_driver(r.entries);
  const bool serial = !drv::is_usb_port(port);
  r.driver = load_named(serial ? kSerialDriverFile : kUsbDriverFile);
  if (!r.driver) return false;
  r.serial_driver = serial;
  drv::bind_driver(r.entries, drv::Prefix::Sdt, r.driver);
  return true;
}

}  // namespace vantrel
