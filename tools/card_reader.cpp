// The editions' call sequences. The edition is loaded from the dist/ (or build) folder above this
// program's folder, after the simulated reader of that folder when it is there; the edition then
// finds the driver by its file name, as it would beside an application.
#include "tools/card_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "common/record.h"
#include "driver/sdtapi.h"
#include "platform/abi.h"
#include "platform/host.h"

namespace idcard {

// ---- Options ------------------------------------------------------------------------------------

const std::string& program_folder() {
  static const std::string folder = plat::executable_folder();
  return folder;
}

bool set_edition(ReaderOptions& o, const std::string& name) {
  static const struct {
    const char* name;
    Edition edition;
  } editions[] = {{"qdx", Edition::Qdx}, {"sdt", Edition::Sdt}, {"vantrel", Edition::Vantrel}};
  for (const auto& e : editions) {
    if (name != e.name) continue;
    o.edition = e.edition;
    o.edition_name = e.name;
    return true;
  }
  return false;
}

bool parse_int(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < -2147483647L - 1 || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

// ---- Libraries ----------------------------------------------------------------------------------

namespace {

std::string root_folder(const ReaderOptions& o) {
  return o.root.empty() ? program_folder() + ".." + plat::kPathSeparator : o.root;
}

std::string in_root(const ReaderOptions& o, const std::string& folder, const char* file) {
  return root_folder(o) + folder + plat::kPathSeparator + file;
}

#if defined(_WIN32)
constexpr const char* kEditionFiles[] = {"ridel.dll", "ridel.dll", "vantrel.dll"};
constexpr const char* kSimulatorFiles[] = {"sdtapi.dll", "stdapi.dll", "WltRS.dll"};
#else
constexpr const char* kEditionFiles[] = {"libridel.so", "libridel.so", "libvantrel.so"};
constexpr const char* kSimulatorFiles[] = {"libsdtapi.so", "libstdapi.so", "libwltrs.so"};
#endif

// Loads the simulated reader from the simulator folder when it is there, so that the edition finds
// it by file name, and hands it the card profile.
bool load_simulator(const ReaderOptions& o, std::string* error) {
  if (!o.card.empty() && !plat::file_exists(o.card.c_str())) {
    *error = "card profile " + o.card + " cannot be read";
    return false;
  }
  bool any = false;
  for (const char* file : kSimulatorFiles) {
    const std::string path = in_root(o, "simulator", file);
    if (!plat::file_exists(path.c_str())) continue;
    plat::Module m = plat::load_library(path.c_str());  // kept until the program ends
    if (!m) continue;
    any = true;
    if (o.card.empty()) continue;
    using LoadProfile = int(WINAPI*)(const char*, char*, int);
    auto load = reinterpret_cast<LoadProfile>(plat::entry_point(m, "Sim_LoadProfile"));
    char message[512] = {};
    if (load && !load(o.card.c_str(), message, sizeof message)) {
      *error = "card profile " + o.card + ": " + message;
      return false;
    }
  }
  if (!any && !o.card.empty()) {
    *error = "--card needs the simulated reader beside the edition";
    return false;
  }
  return true;
}

// A new, empty folder under the system's temporary folder, ending in a separator; empty when none
// can be made.
[[maybe_unused]] std::string make_private_folder() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return {};
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path folder = temp / ("idcard-" + std::to_string(random()));
    if (fs::create_directory(folder, ec)) return folder.string() + plat::kPathSeparator;
  }
  return {};
}

void remove_folder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace

void unload(Library* library) {
  plat::free_library(library->module);
  library->module = nullptr;
  if (!library->private_folder.empty()) remove_folder(library->private_folder);
  library->private_folder.clear();
}

bool load(const ReaderOptions& o, Library* library, std::string* error) {
  if (!load_simulator(o, error)) return false;
  std::string path = o.library.empty()
                         ? in_root(o, o.edition_name, kEditionFiles[static_cast<int>(o.edition)])
                         : o.library;
  if (!plat::file_exists(path.c_str())) {
    *error = "library " + path + " not found";
    return false;
  }
#if defined(_WIN32)
  // The vantrel edition finds its string table and log as the module named ridel.dll, so an
  // application deploys it under that name: do the same, in a temporary folder of this process's
  // own, so that nothing is added to the folders the libraries are installed in. (The edition
  // finds the driver and decoder by name all the same: the simulator is loaded already.)
  if (o.edition == Edition::Vantrel) {
    const std::string folder = make_private_folder();
    const std::string deployed = folder + "ridel.dll";
    if (folder.empty() || !plat::copy_file(path.c_str(), deployed.c_str())) {
      *error = "cannot deploy " + path + " as ridel.dll in a temporary folder";
      if (!folder.empty()) remove_folder(folder);
      return false;
    }
    library->private_folder = folder;
    path = deployed;
  }
#endif
  library->module = plat::load_library(path.c_str());
  library->path = path;
  if (!library->module) {
    *error = "library " + path + " cannot be loaded (is its driver beside it?)";
    return false;
  }
  return true;
}

// ---- The card -----------------------------------------------------------------------------------

const std::string* Card::find(const char* key) const {
  for (const Field& f : fields) {
    if (std::string(f.key) == key) return &f.value;
  }
  return nullptr;
}

std::string ReadError::line() const {
  return step + ": " + call + " returned " + std::to_string(code) +
         (message.empty() ? std::string() : ": " + message);
}

namespace {

using Int0 = int(WINAPI*)();
using Int1 = int(WINAPI*)(int);
using Getter1 = int(WINAPI*)(char*);
using Getter2 = int(WINAPI*)(char*, int);
using Getter3 = int(WINAPI*)(int, char*, int);

// The sequences below throw a ReadError at the first failing step.
template <class Fn>
Fn need(plat::Module m, const char* name) {
  auto f = reinterpret_cast<Fn>(plat::entry_point(m, name));
  if (!f) throw ReadError{Failure::Internal, "library", name, 0, "the library has no such export"};
  return f;
}

[[noreturn]] void step_failed(Failure kind, const char* step, const std::string& call, int result,
                              const char* meaning) {
  throw ReadError{kind, step, call, result, meaning ? meaning : ""};
}

std::string with_arg(const char* name, int arg) {
  return std::string(name) + "(" + std::to_string(arg) + ")";
}

// Closes the port when the sequence leaves early, so that the next read finds it closed.
class PortGuard {
 public:
  explicit PortGuard(plat::Module m) : close_(need<Int0>(m, "CloseComm")) {}
  PortGuard(const PortGuard&) = delete;
  PortGuard& operator=(const PortGuard&) = delete;
  ~PortGuard() { close(); }
  void close() {
    if (open_) close_();
    open_ = false;
  }

 private:
  Int0 close_;
  bool open_ = true;
};

// A value for display: UTF-8, without the blanks that pad some editions' fields.
std::string utf8(std::string ansi) {
  while (!ansi.empty() && ansi.back() == ' ') ansi.pop_back();
  return plat::ansi_to_utf8(ansi);
}

std::string utf8(const char* buf, int n) {
  return utf8(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  plat::File f = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!f.is_open()) return lines;
  std::string text(static_cast<std::size_t>(std::max<std::int64_t>(f.size(), 0)), '\0');
  text.resize(f.read(text.data(), text.size()));
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    std::size_t end = i;
    if (end > start && text[end - 1] == '\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = i + 1;
  }
  return lines;
}

// The open step of every edition: QDX and vantrel InitComm, SDT OpenComm.
const char* open_export(Edition e) { return e == Edition::Sdt ? "OpenComm" : "InitComm"; }

void open_port(plat::Module m, const ReaderOptions& o) {
  const char* name = open_export(o.edition);
  const int r = need<Int1>(m, name)(o.port);
  if (r == 1) return;
  const char* meaning =
      o.edition == Edition::Sdt
          ? (r == -10 ? "no reader found (driver status 1)" : "no reader found")
      : o.edition == Edition::Qdx
          ? "no reader on that port, or its SAM is not answering"
          : "no reader on that port, or its SAM is not answering (see idcrerror.log)";
  step_failed(Failure::NoReader, "open", with_arg(name, o.port), r, meaning);
}

Card read_qdx(plat::Module m, const ReaderOptions& o) {
  const int mode = o.mode ? o.mode : 4;
  open_port(m, o);
  PortGuard port(m);
  if (int r = need<Int0>(m, "Authenticate")(); r != 1)
    step_failed(Failure::NoCard, "authenticate", "Authenticate()", r, "no card on the reader");
  if (int r = need<Int1>(m, "Read_Content")(mode); r != 1)
    step_failed(Failure::ReadFailed, "read", with_arg("Read_Content", mode), r,
                "the driver refused, a result file could not be written, or the decoder failed");
  port.close();

  Card card;
  if (mode == 4) {
    static const char* const keys[] = {"name",    "sex",       "nation",    "birth",
                                       "address", "id_number", "authority", "validity"};
    const std::vector<std::string> lines = read_lines(program_folder() + "wz.txt");
    for (std::size_t i = 0; i < 8 && i < lines.size(); ++i)
      card.fields.push_back({keys[i], utf8(lines[i])});
    card.photo = program_folder() + "zp.bmp";
  } else if (mode == 1 || mode == 2) {
    // wz.txt holds the raw record: show its fields converted.
    plat::File f = plat::open_file((program_folder() + "wz.txt").c_str(), false, plat::Share::Read);
    unsigned char record[drv::kIdentityBytes] = {};
    const std::size_t n = f.read(record, sizeof record);
    static const char* const keys[] = {"name",      "sex",       "nation",     "birth",   "address",
                                       "id_number", "authority", "valid_from", "valid_to"};
    for (int i = 0; i < 9; ++i)
      card.fields.push_back(
          {keys[i], utf8(std::string(rec::sdt_text({record, n}, rec::kFields[i])))});
    if (mode == 1) card.photo = program_folder() + "zp.bmp";
  }
  return card;
}

Card read_sdt(plat::Module m, const ReaderOptions& o) {
  const int type = o.mode ? o.mode : 1;
  open_port(m, o);
  PortGuard port(m);
  if (int r = need<Int0>(m, "SelectCard")(); r != 1)
    step_failed(r == -10 ? Failure::NoReader : Failure::NoCard, "select", "SelectCard()", r,
                r == 0 ? "no card on the reader" : "card not selected");
  if (int r = need<Int1>(m, "ReadBaseInfo")(type); r != 1) {
    const char* meaning = r == -8            ? "a result file could not be written"
                          : r == -10         ? "driver status 1"
                          : r == -11         ? "decoder failure"
                          : r < 0 && r >= -6 ? "decoder failure"
                          : r == 0           ? "unknown read type"
                                             : "driver status";
    step_failed(r == -10 ? Failure::NoReader : Failure::ReadFailed, "read",
                with_arg("ReadBaseInfo", type), r, meaning);
  }
  // The full read also takes the appended address; a card without one is no failure.
  if (!o.mode) need<Int1>(m, "ReadBaseInfo")(3);
  static const struct {
    const char* key;
    const char* getter;
  } getters[] = {{"name", "GetName"},     {"sex", "GetSex"},
                 {"nation", "GetFolk"},   {"birth", "GetBirth"},
                 {"address", "GetAddr"},  {"id_number", "GetIDNum"},
                 {"authority", "GetDep"}, {"valid_from", "GetBegin"},
                 {"valid_to", "GetEnd"},  {"appended_address", "GetNewAddr"}};
  Card card;
  for (const auto& g : getters) {
    char buf[512] = {};
    const int n = need<Getter1>(m, g.getter)(buf);
    card.fields.push_back({g.key, utf8(buf, n)});
  }
  char path[512] = {};
  const int n = need<Getter1>(m, "GetPicPath")(path);
  card.photo.assign(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  port.close();
  return card;
}

Card read_vantrel(plat::Module m, const ReaderOptions& o) {
  const int mode = o.mode ? o.mode : 1;
  open_port(m, o);
  PortGuard port(m);
  if (int r = need<Int0>(m, "Authenticate")(); r != 1)
    step_failed(Failure::NoCard, "authenticate", "Authenticate()", r,
                "no card on the reader (see idcrerror.log)");
  if (int r = need<Int1>(m, "Read_Content")(mode); r != 1)
    step_failed(Failure::ReadFailed, "read", with_arg("Read_Content", mode), r,
                r == 0 ? "the driver refused or a result file could not be written "
                         "(see idcrerror.log)"
                       : "decoder failure");
  static const struct {
    const char* key;
    const char* getter;
  } getters[] = {{"name", "GetPeopleName"},       {"sex", "GetPeopleSex"},
                 {"nation", "GetPeopleNation"},   {"birth", "GetPeopleBirthday"},
                 {"address", "GetPeopleAddress"}, {"id_number", "GetPeopleIDCode"},
                 {"authority", "GetDepartment"},  {"valid_from", "GetStartDate"},
                 {"valid_to", "GetEndDate"}};
  Card card;
  for (const auto& g : getters) {
    char buf[128];  // longer than any value, so that every value ends in a zero byte
    const int n = need<Getter2>(m, g.getter)(buf, sizeof buf);
    card.fields.push_back({g.key, utf8(buf, n)});
  }
  char buf[128];
  const int n = need<Getter3>(m, "GetAppAddress")(1, buf, sizeof buf);
  card.fields.push_back({"appended_address", utf8(buf, n)});
  std::vector<char> bitmap(102400);
  const int bytes = need<Getter2>(m, "GetPhotoBMP")(bitmap.data(), static_cast<int>(bitmap.size()));
  card.fields.push_back({"photo_bytes", std::to_string(bytes)});
  card.photo = program_folder() + "ZP.bmp";
  port.close();
  return card;
}

template <class Body>
ReadResult attempt(Body body) {
  ReadResult result;
  try {
    result.card = body();
    result.ok = true;
  } catch (const ReadError& e) {
    result.error = e;
  }
  return result;
}

}  // namespace

ReadResult read_card(const Library& library, const ReaderOptions& o) {
  return attempt([&] {
    return o.edition == Edition::Qdx   ? read_qdx(library.module, o)
           : o.edition == Edition::Sdt ? read_sdt(library.module, o)
                                       : read_vantrel(library.module, o);
  });
}

ReadResult check_reader(const Library& library, const ReaderOptions& o) {
  return attempt([&] {
    open_port(library.module, o);
    PortGuard port(library.module);
    return Card{};
  });
}

std::string read_file(const std::string& path) {
  constexpr std::int64_t kMaxBytes = 1 << 20;
  if (path.empty()) return {};
  plat::File f = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!f.is_open() || f.size() < 0 || f.size() > kMaxBytes) return {};
  std::string bytes(static_cast<std::size_t>(f.size()), '\0');
  bytes.resize(f.read(bytes.data(), bytes.size()));
  return bytes;
}

const std::vector<const char*>& result_files(Edition e) {
  static const std::vector<const char*> qdx = {"wz.txt", "xp.wlt",      "zp.wlt",
                                               "zp.bmp", "NEWADDR.txt", "IINSNDN.bin"};
  static const std::vector<const char*> sdt = {"wx.txt", "wz.txt",     "zp.wlt",     "pic.wlt",
                                               "zp.bmp", "NewAdd.txt", "NewAdd1.txt"};
  static const std::vector<const char*> vantrel = {"WZ.txt", "XP.wlt",     "ZP.wlt",
                                                   "ZP.bmp", "NEWADD.txt", "IINSNDN.Bin"};
  return e == Edition::Qdx ? qdx : e == Edition::Sdt ? sdt : vantrel;
}

}  // namespace idcard
