// The live checks: the folder's driver, loaded when the file checks found it whole and of this
// program's architecture, asked which ports answer (OpenPort, then ClosePort), the SAM's status and
// whether a card lies on the reader on the first port that answers; then the photo decoder, asked
// to decode a probe photo in a private temporary folder. live_checks() takes only what it needs
// and hands back a report, so that it can run in a process of its own.
#include <optional>
#include <string>
#include <vector>

#include "driver/binding.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "simulator/bitmap_path.h"
#include "tools/doctor/checks.h"
#include "tools/editions/library.h"
#include "tools/editions/private_folder.h"

namespace idcard::doctor {

namespace {

constexpr int kFlag = 0;
constexpr int kSerialPorts = 16;  // serial ports 1 to 16
// The probe photo handed to the decoder: a photo record's size.
constexpr char kProbePhoto[] = "probe.wlt";
constexpr int kBitmapHeaderBytes = 14 + 40;

void add(Report& r, const char* check, Status status, std::string text, std::string fix = {}) {
  r.findings.push_back({check, "", status, std::move(text), std::move(fix)});
}

// A library loaded from the folder; freed with this object.
class Loaded {
 public:
  explicit Loaded(const std::string& path) {
    module_ = plat::load_library(path.c_str());
    if (!module_) error_ = plat::last_load_error();
  }
  ~Loaded() { plat::free_library(module_); }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;

  plat::Module module() const { return module_; }
  const plat::LoadError& error() const { return error_; }

 private:
  plat::Module module_ = nullptr;
  plat::LoadError error_;
};

// A driver loaded from the folder, bound under the edition's prefix.
class Driver : public Loaded {
 public:
  Driver(const std::string& path, drv::Prefix prefix) : Loaded(path) {
    drv::bind_driver(entry_, prefix, module());
  }
  const drv::EntryPoints& entry() const { return entry_; }

  bool answers(int port) const {
    if (drv::call(entry_.OpenPort, port) != drv::kOk) return false;
    drv::call(entry_.ClosePort, port);
    return true;
  }

 private:
  drv::EntryPoints entry_;
};

struct Port {
  int number;
  const Driver* driver;
};

std::string file_of(const std::string& path) {
  return path.substr(plat::folder_of(path).size());
}

std::string port_name(int port) {
  return drv::is_usb_port(port) ? "USB port " + std::to_string(port)
                                : "serial port " + std::to_string(port);
}

// A library that did not load, in words, with the fix that its reason calls for.
void not_loaded(const char* check, Status status, const std::string& path, const plat::LoadError& e,
                const std::string& effect, Report& r) {
  const std::string file = file_of(path);
  switch (e.kind) {
    case plat::LoadFailure::Damaged:
      add(r, check, status, path + " is damaged: the system refuses to load it (" + e.text + ")" + effect,
          "copy the reader maker's " + file + " again");
      return;
    case plat::LoadFailure::NeedsLibraries:
      add(r, check, status,
          path + " cannot be loaded: it needs libraries of its own that are missing (" + e.text + ")" +
              effect,
          "install the reader maker's driver package, which brings what " + file + " needs");
      return;
    case plat::LoadFailure::Refused:
      add(r, check, status, path + " cannot be loaded: access denied (" + e.text + ")" + effect,
          "let the application's users read " + path);
      return;
    case plat::LoadFailure::Other: break;
  }
  add(r, check, status, path + " cannot be loaded (" + e.text + ")" + effect,
      "install the reader maker's driver package again");
}

bool hand_card(const LiveRequest& q, plat::Module m, Report& r) {
  std::string error;
  if (q.card.empty() || hand_profile(m, q.card, &error)) return true;
  add(r, "live", Status::Fail, error, "correct the card profile");
  return false;
}

void check_ports(const LiveRequest& q, const std::vector<Port>& answering, Report& r) {
  if (answering.empty()) {
#if defined(_WIN32)
    const char* serial = "a serial reader needs its own COM port number";
#else
    const char* serial = "a serial reader needs the number of its serial port";
#endif
    add(r, "ports", Status::Fail,
        "no reader answers on USB ports " + std::to_string(drv::kFirstUsbPort) + "-" +
            std::to_string(drv::kLastUsbPort) + " or serial ports 1-" + std::to_string(kSerialPorts),
        "connect the reader, switch it on and check that the system lists it; " + std::string(serial));
    return;
  }
  std::string list;
  bool wanted = false;
  for (const Port& p : answering) {
    list += (list.empty() ? "" : ", ") + port_name(p.number);
    wanted = wanted || p.number == q.port;
  }
  if (q.port && !wanted) {
    add(r, "ports", Status::Fail,
        "the reader answers on " + list + ", not on " + port_name(q.port) +
            ", which the application opens",
        "open " + port_name(answering.front().number) + " in the application (" + q.open_call + "(" +
            std::to_string(answering.front().number) + "))");
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

// Whether the file is a bitmap with a picture in it.
bool is_bitmap(const std::string& path) {
  plat::File file = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!file.is_open()) return false;
  unsigned char header[kBitmapHeaderBytes] = {};
  if (file.read(header, sizeof header) != sizeof header) return false;
  auto u32 = [&header](int at) {
    return static_cast<unsigned>(header[at]) | static_cast<unsigned>(header[at + 1]) << 8 |
           static_cast<unsigned>(header[at + 2]) << 16 | static_cast<unsigned>(header[at + 3]) << 24;
  };
  const std::int64_t size = file.size();
  return header[0] == 'B' && header[1] == 'M' && u32(18) != 0 && u32(22) != 0 && size > kBitmapHeaderBytes &&
         u32(10) < static_cast<std::uint64_t>(size);
}

// The decoder asked to decode a probe photo (of a photo record's size, in a private folder that
// goes with everything in it), as a read asks it for the card's photo.
void check_decoder(const LiveRequest& q, int selector, Report& r) {
  const std::string file = file_of(q.decoder);
  const std::string effect = ": the photo of every read fails";
  Loaded decoder(q.decoder);
  if (!decoder.module()) {
    not_loaded("decoder", Status::Fail, q.decoder, decoder.error(), effect, r);
    return;
  }
  if (!hand_card(q, decoder.module(), r)) return;
  drv::EntryPoints entry;
  drv::bind_decoder(entry, decoder.module());
  if (!entry.GetBmp) {
    add(r, "decoder", Status::Skipped, "the photo decoder lacks GetBmp: it was not tried");
    return;
  }
  const std::string folder = make_private_folder();
  if (folder.empty()) {
    add(r, "decoder", Status::Skipped,
        "the photo decoder was not tried: no private temporary folder could be made for its probe");
    return;
  }
  std::string photo = folder + kProbePhoto;
  const std::string bitmap = sim::bitmap_path(photo);
  std::vector<unsigned char> bytes(drv::kPhotoBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  if (!plat::write_whole_file(photo.c_str(), bytes.data(), bytes.size(), plat::Share::None)) {
    remove_folder(folder);
    add(r, "decoder", Status::Skipped,
        "the photo decoder was not tried: its probe photo could not be written in " + folder);
    return;
  }
  const int result = entry.GetBmp(photo.data(), selector);
  const bool written = is_bitmap(bitmap);
  remove_folder(folder);
  if (result != drv::kDecodeOk) {
    add(r, "decoder", Status::Fail,
        "the photo decoder " + file + " failed on a probe photo (result " + std::to_string(result) +
            ")" + effect,
        "install the reader maker's " + file + " again, complete and current; if it still fails, "
        "ask the reader maker for a decoder for this system");
  } else if (!written) {
    add(r, "decoder", Status::Fail,
        "the photo decoder " + file + " reported success on a probe photo but wrote no bitmap" + effect,
        "install the reader maker's " + file + " again, complete and current");
  } else {
    add(r, "decoder", Status::Ok, "the photo decoder " + file + " turns a probe photo into a bitmap");
  }
}

// Why the live checks cannot run, or empty.
std::string skip_reason(const Options& o, const Deployment& d) {
  if (!o.live) return "--static: the reader was not asked";
  if (!d.edition) return "no edition found, so it is not known how it calls the driver";
  if (!d.driver.unusable.empty())
    return "the driver " + d.driver.file + " is not loaded: " + d.driver.unusable;
  if (!image::same_architecture(d.driver.image, d.host))
    return d.driver.file + " is for " + image::architecture(d.driver.image) + ", this idcard for " +
           image::architecture(d.host) + ": it cannot load it";
  return "";
}

bool loadable(const Located& l, const Deployment& d) {
  return !l.path.empty() && l.unusable.empty() && image::same_architecture(l.image, d.host);
}

}  // namespace

Report live_checks(const LiveRequest& q) {
  Report r;
  Driver usb(q.driver, q.prefix);
  if (!usb.module()) {
    not_loaded("live", Status::Fail, q.driver, usb.error(), ": the reader cannot be asked", r);
    return r;
  }
  if (!hand_card(q, usb.module(), r)) return r;
  std::vector<Port> answering;
  for (int port = drv::kFirstUsbPort; port <= drv::kLastUsbPort; ++port) {
    if (usb.answers(port)) answering.push_back({port, &usb});
  }
  // Serial ports go to the edition's serial driver where it has one.
  std::optional<Driver> serial;
  const Driver* serial_driver = &usb;
  if (!q.serial_driver.empty()) {
    serial.emplace(q.serial_driver, q.prefix);
    serial_driver = serial->module() ? &*serial : nullptr;
    if (!serial_driver) {
      not_loaded("live", Status::Note, q.serial_driver, serial->error(),
                 ": serial ports were not asked", r);
    }
  }
  if (serial_driver && (serial_driver == &usb || hand_card(q, serial_driver->module(), r))) {
    for (int port = 1; port <= kSerialPorts; ++port) {
      if (serial_driver->answers(port)) answering.push_back({port, serial_driver});
    }
  }
  check_ports(q, answering, r);
  if (!answering.empty()) check_sam_and_card(answering.front(), r);
  if (!q.decoder.empty()) {
    const int port = answering.empty() ? (q.port ? q.port : drv::kFirstUsbPort) : answering.front().number;
    check_decoder(q, drv::decoder_selector(port), r);
  }
  return r;
}

void check_live(const Options& o, const Deployment& d, Report& r) {
  if (const std::string why = skip_reason(o, d); !why.empty()) {
    add(r, "live", Status::Skipped, "live checks skipped: " + why);
    return;
  }
  LiveRequest q;
  q.prefix = d.edition->driver_prefix;
  q.open_call = d.edition->open.name;
  q.driver = d.driver.path;
  if (d.edition->serial_driver && loadable(d.serial_driver, d)) q.serial_driver = d.serial_driver.path;
  if (loadable(d.decoder, d)) {
    q.decoder = d.decoder.path;
  }
  q.port = o.port;
  q.card = o.card;
  Report live = live_checks(q);
  for (Finding& f : live.findings) r.findings.push_back(std::move(f));
  if (q.decoder.empty() && !d.decoder.path.empty()) {
    add(r, "decoder", Status::Skipped,
        "the photo decoder " + d.decoder.file + " was not tried: " +
            (d.decoder.unusable.empty() ? "it is for " + image::architecture(d.decoder.image) +
                                              ", this idcard for " + image::architecture(d.host)
                                        : d.decoder.unusable));
  }
}

}  // namespace idcard::doctor
