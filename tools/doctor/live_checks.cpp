// The live checks: the folder's driver, loaded when the file checks found it whole and of this
// program's architecture, asked which ports answer (OpenPort, then ClosePort), the SAM's status and
// whether a card lies on the reader on the first port that answers; then the photo decoder, asked
// to decode a probe photo in a private temporary folder. They run in the reader process: each load
// and call is told first, so that a crash or a hang there names it.
#include "tools/doctor/live_checks.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"
#include "simulator/bitmap_path.h"
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

// Tells the progress before a load or call, where there is a listener.
class Tell {
 public:
  explicit Tell(const LiveProgress& progress) : progress_(progress) {}
  void operator()(const char* step, const std::string& call) const {
    if (progress_) progress_(step, call);
  }

 private:
  const LiveProgress& progress_;
};

std::string called(const char* name, int port) { return std::string(name) + "(" + std::to_string(port) + ")"; }

// A library loaded from the folder; freed with this object.
class Loaded {
 public:
  Loaded(const std::string& path, const Tell& tell) {
    tell("load", path);
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
  Driver(const std::string& path, drv::Prefix prefix, const Tell& tell) : Loaded(path, tell), tell_(tell) {
    drv::bind_driver(entry_, prefix, module());
  }
  const Tell& tell() const { return tell_; }
  const drv::EntryPoints& entry() const { return entry_; }

  bool answers(int port) const {
    tell_("ports", called("OpenPort", port));
    if (drv::call(entry_.OpenPort, port) != drv::kOk) return false;
    tell_("ports", called("ClosePort", port));
    drv::call(entry_.ClosePort, port);
    return true;
  }

 private:
  drv::EntryPoints entry_;
  const Tell& tell_;
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

bool hand_card(const LiveRequest& q, plat::Module m, const Tell& tell, Report& r) {
  std::string error;
  if (q.card.empty()) return true;
  tell("load", kProfileExport);
  if (hand_profile(m, q.card, &error)) return true;
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
  const Tell& tell = port.driver->tell();
  tell("sam", called("OpenPort", port.number));
  if (drv::call(e.OpenPort, port.number) != drv::kOk) {
    add(r, "sam", Status::Fail, port_name(port.number) + " stopped answering",
        "check the reader's cable and run the doctor again");
    return;
  }
  if (!e.GetSAMStatus) {
    add(r, "sam", Status::Skipped, "the driver lacks GetSAMStatus: the SAM cannot be asked");
  } else if (const int status = (tell("sam", called("GetSAMStatus", port.number)),
                                  e.GetSAMStatus(port.number, kFlag));
             status == drv::kOk) {
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
  } else if (const int status = (tell("card", called("StartFindIDCard", port.number)),
                                  e.StartFindIDCard(port.number, found, kFlag));
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
  tell("card", called("ClosePort", port.number));
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
void check_decoder(const LiveRequest& q, int selector, const Tell& tell, Report& r) {
  const std::string file = file_of(q.decoder);
  const std::string effect = ": the photo of every read fails";
  Loaded decoder(q.decoder, tell);
  if (!decoder.module()) {
    not_loaded("decoder", Status::Fail, q.decoder, decoder.error(), effect, r);
    return;
  }
  if (!hand_card(q, decoder.module(), tell, r)) return;
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
  tell("decoder", "GetBmp(" + std::string(kProbePhoto) + ", " + std::to_string(selector) + ")");
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

}  // namespace

Report live_checks(const LiveRequest& q, const LiveProgress& progress) {
  Report r;
  const Tell tell(progress);
  Driver usb(q.driver, q.prefix, tell);
  if (!usb.module()) {
    not_loaded("live", Status::Fail, q.driver, usb.error(), ": the reader cannot be asked", r);
    return r;
  }
  if (!hand_card(q, usb.module(), tell, r)) return r;
  std::vector<Port> answering;
  for (int port = drv::kFirstUsbPort; port <= drv::kLastUsbPort; ++port) {
    if (usb.answers(port)) answering.push_back({port, &usb});
  }
  // Serial ports go to the edition's serial driver where it has one.
  std::optional<Driver> serial;
  const Driver* serial_driver = &usb;
  if (!q.serial_driver.empty()) {
    serial.emplace(q.serial_driver, q.prefix, tell);
    serial_driver = serial->module() ? &*serial : nullptr;
    if (!serial_driver) {
      not_loaded("live", Status::Note, q.serial_driver, serial->error(),
                 ": serial ports were not asked", r);
    }
  }
  if (serial_driver && (serial_driver == &usb || hand_card(q, serial_driver->module(), tell, r))) {
    for (int port = 1; port <= kSerialPorts; ++port) {
      if (serial_driver->answers(port)) answering.push_back({port, serial_driver});
    }
  }
  check_ports(q, answering, r);
  if (!answering.empty()) check_sam_and_card(answering.front(), r);
  if (!q.decoder.empty()) {
    const int port = answering.empty() ? (q.port ? q.port : drv::kFirstUsbPort) : answering.front().number;
    check_decoder(q, drv::decoder_selector(port), tell, r);
  }
  return r;
}

namespace {

constexpr std::pair<drv::Prefix, const char*> kPrefixes[] = {{drv::Prefix::Qdx, "qdx"},
                                                            {drv::Prefix::Sdt, "sdt"}};
constexpr Status kStatuses[] = {Status::Ok, Status::Note, Status::Fail, Status::Skipped};

template <class T>
bool take(const nlohmann::ordered_json& d, const char* key, T* value) {
  const auto it = d.find(key);
  if (it == d.end()) return false;
  try {
    *value = it->get<T>();
    return true;
  } catch (const nlohmann::ordered_json::exception&) {
    return false;
  }
}

}  // namespace

nlohmann::ordered_json live_request_json(const LiveRequest& q) {
  const char* prefix = "qdx";
  for (const auto& [p, name] : kPrefixes) {
    if (p == q.prefix) prefix = name;
  }
  return {{"prefix", prefix}, {"open_call", q.open_call}, {"driver", q.driver},
          {"serial_driver", q.serial_driver}, {"decoder", q.decoder}, {"port", q.port},
          {"card", q.card}};
}

bool live_request_from_json(const nlohmann::ordered_json& d, LiveRequest* q) {
  std::string prefix;
  if (!d.is_object() || !take(d, "prefix", &prefix) || !take(d, "open_call", &q->open_call) ||
      !take(d, "driver", &q->driver) || !take(d, "serial_driver", &q->serial_driver) ||
      !take(d, "decoder", &q->decoder) || !take(d, "port", &q->port) || !take(d, "card", &q->card))
    return false;
  for (const auto& [p, name] : kPrefixes) {
    if (prefix == name) {
      q->prefix = p;
      return true;
    }
  }
  return false;
}

nlohmann::ordered_json findings_json(const Report& r) {
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  for (const Finding& f : r.findings) {
    findings.push_back({{"check", f.check}, {"subject", f.subject}, {"status", status_name(f.status)},
                        {"text", f.text}, {"fix", f.fix}});
  }
  return {{"ok", true}, {"findings", std::move(findings)}};
}

bool findings_from_json(const nlohmann::ordered_json& d, Report* r) {
  nlohmann::ordered_json findings;
  if (!d.is_object() || !take(d, "findings", &findings) || !findings.is_array()) return false;
  for (const nlohmann::ordered_json& item : findings) {
    Finding f{"", "", Status::Fail, "", ""};
    std::string status;
    if (!item.is_object() || !take(item, "check", &f.check) || !take(item, "subject", &f.subject) ||
        !take(item, "status", &status) || !take(item, "text", &f.text) || !take(item, "fix", &f.fix))
      return false;
    bool known = false;
    for (Status s : kStatuses) {
      if (status == status_name(s)) {
        f.status = s;
        known = true;
      }
    }
    if (!known) return false;
    r->findings.push_back(std::move(f));
  }
  return true;
}

const char* status_name(Status s) {
  switch (s) {
    case Status::Ok: return "ok";
    case Status::Note: return "note";
    case Status::Fail: return "fail";
    case Status::Skipped: return "skipped";
  }
  return "fail";
}

std::string hex(int status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(status));
  return text;
}

}  // namespace idcard::doctor
