// The live checks: the folder's driver, loaded when it is of this program's architecture, asked
// which ports answer (OpenPort, then ClosePort), the SAM's status and whether a card lies on the
// reader on the first port that answers.
#include <optional>
#include <string>
#include <vector>

#include "driver/binding.h"
#include "platform/platform.h"
#include "tools/doctor/checks.h"
#include "tools/editions/library.h"

namespace idcard::doctor {

namespace {

constexpr int kFlag = 0;
constexpr int kSerialPorts = 16;  // COM1 to COM16

void add(Report& r, const char* check, Status status, std::string text, std::string fix = {}) {
  r.findings.push_back({check, "", status, std::move(text), std::move(fix)});
}

// A driver loaded from the folder, bound under the edition's prefix; freed with this object.
class Driver {
 public:
  Driver(const Located& l, drv::Prefix prefix) {
    module_ = plat::load_library(l.path.c_str());
    if (!module_) error_ = plat::last_error();
    drv::bind_driver(entry_, prefix, module_);
  }
  ~Driver() { plat::free_library(module_); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  plat::Module module() const { return module_; }
  std::uint32_t error() const { return error_; }
  const drv::EntryPoints& entry() const { return entry_; }

  bool answers(int port) const {
    if (drv::call(entry_.OpenPort, port) != drv::kOk) return false;
    drv::call(entry_.ClosePort, port);
    return true;
  }

 private:
  plat::Module module_ = nullptr;
  std::uint32_t error_ = 0;
  drv::EntryPoints entry_;
};

struct Port {
  int number;
  const Driver* driver;
};

std::string port_name(int port) {
  return drv::is_usb_port(port) ? "USB port " + std::to_string(port)
                                : "serial port " + std::to_string(port);
}

// Why the live checks cannot run, or empty.
std::string skip_reason(const Options& o, const Deployment& d) {
  if (!o.live) return "--static: the reader was not asked";
  if (!d.edition) return "no edition found, so it is not known how it calls the driver";
  if (!d.driver.usable)
    return "the driver " + d.driver.file + " is missing, unreadable or of another architecture";
  if (!image::same_architecture(d.driver.image, d.host))
    return d.driver.file + " is for " + image::architecture(d.driver.image) +
           ", this idcard for " + image::architecture(d.host) + ": it cannot load it";
  return "";
}

bool hand_card(const Options& o, const Driver& driver, Report& r) {
  std::string error;
  if (o.card.empty() || hand_profile(driver.module(), o.card, &error)) return true;
  add(r, "live", Status::Fail, error, "correct the card profile");
  return false;
}

void check_ports(const Options& o, const std::vector<Port>& answering, const Deployment& d,
                 Report& r) {
  if (answering.empty()) {
    add(r, "ports", Status::Fail,
        "no reader answers on USB ports " + std::to_string(drv::kFirstUsbPort) + "-" +
            std::to_string(drv::kLastUsbPort) + " or serial ports 1-" + std::to_string(kSerialPorts),
        "connect the reader, switch it on and check that the system lists it; a serial reader needs "
        "its own COM port number");
    return;
  }
  std::string list;
  bool wanted = false;
  for (const Port& p : answering) {
    list += (list.empty() ? "" : ", ") + port_name(p.number);
    wanted = wanted || p.number == o.port;
  }
  if (o.port && !wanted) {
    add(r, "ports", Status::Fail,
        "the reader answers on " + list + ", not on " + port_name(o.port) +
            ", which the application opens",
        "open " + port_name(answering.front().number) + " in the application (" + d.edition->open.name +
            "(" + std::to_string(answering.front().number) + "))");
    return;
  }
  add(r, "ports", Status::Ok, "the reader answers on " + list);
}

void check_sam_and_card(const Port& port, Report& r) {
  const drv::EntryPoints& e = port.driver->entry();
  if (drv::call(e.OpenPort, port.number) != drv::kOk) {
    add(r, "sam", Status::Fail, port_name(port.number) + " stopped answering",
        "check the reader's cable and run the doctor again");
    return;
  }
  if (!e.GetSAMStatus) {
    add(r, "sam", Status::Skipped, "the driver lacks GetSAMStatus: the SAM cannot be asked");
  } else if (const int status = e.GetSAMStatus(port.number, kFlag); status == drv::kOk) {
    add(r, "sam", Status::Ok, "the reader's SAM answers (status " + hex(status) + ")");
  } else {
    add(r, "sam", Status::Fail,
        "the reader's SAM on " + port_name(port.number) + " does not answer (status " + hex(status) +
            "): no card can be read",
        "unplug the reader and plug it in again; if that does not help, the reader needs service");
  }
  unsigned char found[64] = {};
  if (!e.StartFindIDCard) {
    add(r, "card", Status::Skipped, "the driver lacks StartFindIDCard: the card cannot be looked for");
  } else if (const int status = e.StartFindIDCard(port.number, found, kFlag);
             status == drv::kCardFound) {
    add(r, "card", Status::Ok, "a card lies on the reader");
  } else if (status == drv::kFindNothing) {
    add(r, "card", Status::Note, "no card lies on the reader",
        "put a card on the reader to try a read");
  } else {
    add(r, "card", Status::Note,
        "looking for a card gave status " + hex(status) + " (neither a card nor none)",
        "put the card on the reader again and run the doctor again");
  }
  drv::call(e.ClosePort, port.number);
}

}  // namespace

void check_live(const Options& o, const Deployment& d, Report& r) {
  if (const std::string why = skip_reason(o, d); !why.empty()) {
    add(r, "live", Status::Skipped, "live checks skipped: " + why);
    return;
  }
  const drv::Prefix prefix = d.edition->driver_prefix;
  Driver usb(d.driver, prefix);
  if (!usb.module()) {
    add(r, "live", Status::Fail,
        d.driver.path + " cannot be loaded (system error " + std::to_string(usb.error()) + ")",
        "install the reader maker's driver package: " + d.driver.file +
            " needs libraries of its own that are missing");
    return;
  }
  if (!hand_card(o, usb, r)) return;
  // Serial ports go to the edition's serial driver where it has one.
  const bool serial_own = d.edition->serial_driver && d.serial_driver.usable &&
                          image::same_architecture(d.serial_driver.image, d.host);
  std::vector<Port> answering;
  for (int port = drv::kFirstUsbPort; port <= drv::kLastUsbPort; ++port) {
    if (usb.answers(port)) answering.push_back({port, &usb});
  }
  std::optional<Driver> serial;
  const Driver* serial_driver = &usb;
  if (serial_own) {
    serial.emplace(d.serial_driver, prefix);
    serial_driver = serial->module() ? &*serial : nullptr;
    if (!serial_driver) {
      add(r, "live", Status::Note,
          d.serial_driver.path + " cannot be loaded (system error " +
              std::to_string(serial->error()) + "): serial ports were not asked",
          "install the reader maker's driver package again");
    }
  }
  if (serial_driver && (serial_driver == &usb || hand_card(o, *serial_driver, r))) {
    for (int port = 1; port <= kSerialPorts; ++port) {
      if (serial_driver->answers(port)) answering.push_back({port, serial_driver});
    }
  }
  check_ports(o, answering, d, r);
  if (!answering.empty()) check_sam_and_card(answering.front(), r);
}

}  // namespace idcard::doctor
