// idcard: reads a card through one edition library, as an application does, and prints it.
//
//   idcard [--edition qdx|sdt|vantrel] [--library PATH] [--port N] [--mode N]
//          [--card PROFILE.json] [--json]
//
// The edition is loaded from the dist/ (or build) folder beside this program's folder, after the
// simulated reader of that folder when it is there; the edition then finds the driver by its file
// name, as it would beside an application. Result files land beside this program.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/record.h"
#include "platform/abi.h"
#include "platform/host.h"

namespace {

// ---- Command line -------------------------------------------------------------------------------

enum class Edition { Qdx, Sdt, Vantrel };

struct Options {
  Edition edition = Edition::Sdt;
  std::string edition_name = "sdt";
  std::string library;  // empty: the dist/build layout beside this program
  int port = 1001;
  int mode = 0;  // 0: the edition's full read
  std::string card;
  bool json = false;
};

constexpr const char kUsage[] =
    "usage: idcard [--edition qdx|sdt|vantrel] [--library PATH] [--port N] [--mode N]\n"
    "              [--card PROFILE.json] [--json]\n";

[[noreturn]] void fail(int code, const std::string& line) {
  std::fprintf(stderr, "idcard: %s\n", line.c_str());
  std::exit(code);
}

bool parse_int(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < -2147483647L - 1 || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) fail(2, arg + " needs a value\n" + kUsage);
      return argv[++i];
    };
    if (arg == "--edition") {
      o.edition_name = value();
      if (o.edition_name == "qdx") o.edition = Edition::Qdx;
      else if (o.edition_name == "sdt") o.edition = Edition::Sdt;
      else if (o.edition_name == "vantrel") o.edition = Edition::Vantrel;
      else fail(2, "unknown edition '" + o.edition_name + "' (qdx, sdt or vantrel)");
    } else if (arg == "--library") {
      o.library = value();
    } else if (arg == "--port") {
      const char* v = value();
      if (!parse_int(v, &o.port) || o.port < 1)
        fail(2, std::string("bad port number '") + v + "' (serial 1-1000, USB 1001-1016)");
    } else if (arg == "--mode") {
      const char* v = value();
      if (!parse_int(v, &o.mode)) fail(2, std::string("bad mode '") + v + "'");
    } else if (arg == "--card") {
      o.card = value();
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      fail(2, "unknown option '" + arg + "'\n" + kUsage);
    }
  }
  return o;
}

// ---- Libraries ----------------------------------------------------------------------------------

const std::string& program_folder() {
  static const std::string folder = plat::executable_folder();
  return folder;
}

std::string beside_program(const std::string& folder, const char* file) {
  return program_folder() + ".." + plat::kPathSeparator + folder + plat::kPathSeparator + file;
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
void load_simulator(const Options& o) {
  if (!o.card.empty() && !plat::file_exists(o.card.c_str()))
    fail(2, "card profile " + o.card + " cannot be read");
  bool any = false;
  for (const char* file : kSimulatorFiles) {
    const std::string path = beside_program("simulator", file);
    if (!plat::file_exists(path.c_str())) continue;
    plat::Module m = plat::load_library(path.c_str());  // kept until the program ends
    if (!m) continue;
    any = true;
    if (o.card.empty()) continue;
    using LoadProfile = int(WINAPI*)(const char*, char*, int);
    auto load = reinterpret_cast<LoadProfile>(plat::entry_point(m, "Sim_LoadProfile"));
    char error[512] = {};
    if (load && !load(o.card.c_str(), error, sizeof error))
      fail(2, "card profile " + o.card + ": " + error);
  }
  if (!any && !o.card.empty()) fail(2, "--card needs the simulated reader beside the edition");
}

plat::Module load_edition(const Options& o, std::string* path) {
  *path = o.library.empty()
              ? beside_program(o.edition_name, kEditionFiles[static_cast<int>(o.edition)])
              : o.library;
  if (!plat::file_exists(path->c_str())) fail(2, "library " + *path + " not found");
#if defined(_WIN32)
  // The vantrel edition finds its string table and log as the module named ridel.dll, so an
  // application deploys it under that name: do the same, beside this program.
  if (o.edition == Edition::Vantrel) {
    const std::string deployed = program_folder() + "ridel.dll";
    if (!plat::copy_file(path->c_str(), deployed.c_str()))
      fail(2, "cannot deploy " + *path + " as " + deployed);
    *path = deployed;
  }
#endif
  plat::Module m = plat::load_library(path->c_str());
  if (!m) fail(2, "library " + *path + " cannot be loaded (is its driver beside it?)");
  return m;
}

template <class Fn>
Fn need(plat::Module m, const char* name) {
  auto f = reinterpret_cast<Fn>(plat::entry_point(m, name));
  if (!f) fail(2, std::string("the library has no export ") + name);
  return f;
}

// ---- The card -----------------------------------------------------------------------------------

struct Field {
  const char* key;
  std::string value;  // UTF-8
};

struct Card {
  std::vector<Field> fields;
  std::string photo;
};

using Int0 = int(WINAPI*)();
using Int1 = int(WINAPI*)(int);

[[noreturn]] void step_failed(const std::string& call, int result, const char* meaning) {
  fail(1, call + " returned " + std::to_string(result) + (meaning ? std::string(": ") + meaning
                                                                   : std::string()));
}

// A value for display: UTF-8, without the blanks that pad some editions' fields.
std::string utf8(std::string ansi) {
  while (!ansi.empty() && ansi.back() == ' ') ansi.pop_back();
  return plat::ansi_to_utf8(ansi);
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

Card read_qdx(plat::Module m, const Options& o) {
  const int mode = o.mode ? o.mode : 4;
  if (int r = need<Int1>(m, "InitComm")(o.port); r != 1)
    step_failed("open: InitComm(" + std::to_string(o.port) + ")", r,
                "no reader on that port, or its SAM is not answering");
  if (int r = need<Int0>(m, "Authenticate")(); r != 1)
    step_failed("authenticate: Authenticate()", r, "no card on the reader");
  if (int r = need<Int1>(m, "Read_Content")(mode); r != 1)
    step_failed("read: Read_Content(" + std::to_string(mode) + ")", r,
                "the driver refused, a result file could not be written, or the decoder failed");
  need<Int0>(m, "CloseComm")();

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
    static const char* const keys[] = {"name",      "sex",        "nation",   "birth",
                                       "address",   "id_number",  "authority", "valid_from",
                                       "valid_to"};
    for (int i = 0; i < 9; ++i)
      card.fields.push_back({keys[i], utf8(std::string(rec::sdt_text({record, n}, rec::kFields[i])))});
    if (mode == 1) card.photo = program_folder() + "zp.bmp";
  }
  return card;
}

using Getter1 = int(WINAPI*)(char*);

Card read_sdt(plat::Module m, const Options& o) {
  const int type = o.mode ? o.mode : 1;
  if (int r = need<Int1>(m, "OpenComm")(o.port); r != 1)
    step_failed("open: OpenComm(" + std::to_string(o.port) + ")", r,
                r == -10 ? "no reader found (driver status 1)" : "no reader found");
  if (int r = need<Int0>(m, "SelectCard")(); r != 1)
    step_failed("select: SelectCard()", r, r == 0 ? "no card on the reader" : "card not selected");
  if (int r = need<Int1>(m, "ReadBaseInfo")(type); r != 1) {
    const char* meaning = r == -8    ? "a result file could not be written"
                          : r == -10 ? "driver status 1"
                          : r == -11 ? "decoder failure"
                          : r < 0 && r >= -6 ? "decoder failure"
                          : r == 0   ? "unknown read type"
                                     : "driver status";
    step_failed("read: ReadBaseInfo(" + std::to_string(type) + ")", r, meaning);
  }
  // The full read also takes the appended address; a card without one is no failure.
  if (!o.mode) need<Int1>(m, "ReadBaseInfo")(3);
  static const struct {
    const char* key;
    const char* getter;
  } getters[] = {{"name", "GetName"},          {"sex", "GetSex"},        {"nation", "GetFolk"},
                 {"birth", "GetBirth"},        {"address", "GetAddr"},   {"id_number", "GetIDNum"},
                 {"authority", "GetDep"},      {"valid_from", "GetBegin"}, {"valid_to", "GetEnd"},
                 {"appended_address", "GetNewAddr"}};
  Card card;
  for (const auto& g : getters) {
    char buf[512] = {};
    const int n = need<Getter1>(m, g.getter)(buf);
    card.fields.push_back({g.key, utf8(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0))});
  }
  char path[512] = {};
  const int n = need<Getter1>(m, "GetPicPath")(path);
  card.photo.assign(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  need<Int0>(m, "CloseComm")();
  return card;
}

using Getter2 = int(WINAPI*)(char*, int);
using Getter3 = int(WINAPI*)(int, char*, int);

Card read_vantrel(plat::Module m, const Options& o) {
  const int mode = o.mode ? o.mode : 1;
  if (int r = need<Int1>(m, "InitComm")(o.port); r != 1)
    step_failed("open: InitComm(" + std::to_string(o.port) + ")", r,
                "no reader on that port, or its SAM is not answering (see idcrerror.log)");
  if (int r = need<Int0>(m, "Authenticate")(); r != 1)
    step_failed("authenticate: Authenticate()", r, "no card on the reader (see idcrerror.log)");
  if (int r = need<Int1>(m, "Read_Content")(mode); r != 1)
    step_failed("read: Read_Content(" + std::to_string(mode) + ")", r,
                r == 0 ? "the driver refused or a result file could not be written "
                         "(see idcrerror.log)"
                       : "decoder failure");
  static const struct {
    const char* key;
    const char* getter;
  } getters[] = {{"name", "GetPeopleName"},        {"sex", "GetPeopleSex"},
                 {"nation", "GetPeopleNation"},    {"birth", "GetPeopleBirthday"},
                 {"address", "GetPeopleAddress"},  {"id_number", "GetPeopleIDCode"},
                 {"authority", "GetDepartment"},   {"valid_from", "GetStartDate"},
                 {"valid_to", "GetEndDate"}};
  Card card;
  for (const auto& g : getters) {
    char buf[128];  // longer than any value, so that every value ends in a zero byte
    const int n = need<Getter2>(m, g.getter)(buf, sizeof buf);
    card.fields.push_back({g.key, utf8(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0))});
  }
  char buf[128];
  const int n = need<Getter3>(m, "GetAppAddress")(1, buf, sizeof buf);
  card.fields.push_back(
      {"appended_address", utf8(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0))});
  std::vector<char> bitmap(102400);
  const int bytes = need<Getter2>(m, "GetPhotoBMP")(bitmap.data(), static_cast<int>(bitmap.size()));
  card.fields.push_back({"photo_bytes", std::to_string(bytes)});
  card.photo = program_folder() + "ZP.bmp";
  need<Int0>(m, "CloseComm")();
  return card;
}

// ---- Output -------------------------------------------------------------------------------------

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const std::vector<const char*>& result_files(Edition e) {
  static const std::vector<const char*> qdx = {"wz.txt", "xp.wlt", "zp.wlt", "zp.bmp",
                                               "NEWADDR.txt", "IINSNDN.bin"};
  static const std::vector<const char*> sdt = {"wx.txt", "wz.txt", "zp.wlt", "pic.wlt",
                                               "zp.bmp", "NewAdd.txt", "NewAdd1.txt"};
  static const std::vector<const char*> vantrel = {"WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp",
                                                   "NEWADD.txt", "IINSNDN.Bin"};
  return e == Edition::Qdx ? qdx : e == Edition::Sdt ? sdt : vantrel;
}

void print(const Options& o, const std::string& library, const Card& card) {
  struct Found {
    const char* name;
    std::int64_t size;
  };
  std::vector<Found> files;
  for (const char* name : result_files(o.edition)) {
    plat::File f = plat::open_file((program_folder() + name).c_str(), false, plat::Share::Read);
    if (f.is_open()) files.push_back({name, f.size()});
  }
  if (o.json) {
    std::string out = "{\"edition\":" + json_string(o.edition_name) +
                      ",\"library\":" + json_string(library) +
                      ",\"port\":" + std::to_string(o.port) + ",\"fields\":{";
    auto member = [&out](bool first, const std::string& key, const std::string& value) {
      if (!first) out += ',';
      out += json_string(key);
      out += ':';
      out += value;
    };
    for (std::size_t i = 0; i < card.fields.size(); ++i)
      member(i == 0, card.fields[i].key, json_string(card.fields[i].value));
    out += "},\"photo\":" + json_string(card.photo) + ",\"files\":{";
    for (std::size_t i = 0; i < files.size(); ++i)
      member(i == 0, files[i].name, std::to_string(files[i].size));
    std::printf("%s}}\n", out.c_str());
    return;
  }
  std::printf("%-17s %s (%s)\n", "edition", o.edition_name.c_str(), library.c_str());
  std::printf("%-17s %d\n", "port", o.port);
  for (const Field& f : card.fields) std::printf("%-17s %s\n", f.key, f.value.c_str());
  std::printf("%-17s %s\n", "photo", card.photo.c_str());
  for (const Found& f : files)
    std::printf("%-17s %s, %lld bytes\n", "file", f.name, static_cast<long long>(f.size));
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  load_simulator(o);
  std::string library;
  plat::Module m = load_edition(o, &library);
  const Card card = o.edition == Edition::Qdx   ? read_qdx(m, o)
                    : o.edition == Edition::Sdt ? read_sdt(m, o)
                                                : read_vantrel(m, o);
  print(o, library, card);
  return 0;
}
