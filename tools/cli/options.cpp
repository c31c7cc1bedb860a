#include "tools/cli/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "driver/sdtapi.h"

namespace idcard {

namespace {

constexpr const char kUsage[] =
    "usage: idcard [OPTIONS]         reads a card and prints it\n"
    "       idcard serve [OPTIONS]   serves the card to web pages on http://127.0.0.1:8089/\n"
    "       idcard doctor [OPTIONS]  checks a deployment and says what to fix\n"
    "\n"
    "  --edition qdx|sdt|vantrel  the edition to read through (default sdt)\n"
    "  --library PATH             load this library instead of the edition's in dist/\n"
    "  --port N                   the reader's port: serial 1-1000, USB 1001-1016 (default 1001)\n"
    "  --mode N                   content mode / read type (qdx 1-6, sdt 1-5, vantrel 1, 2, 3, 5;\n"
    "                             default the edition's full read)\n"
    "  --card PROFILE.json        a card profile for the simulated reader\n"
    "  --json                     one JSON document instead of lines (not with serve)\n"
    "  --version                  prints the version\n"
    "  --help, -h                 prints this text\n"
    "serve only:\n"
    "  --listen HOST:PORT         where to listen (default 127.0.0.1:8089; port 0: a free one)\n"
    "  --allow-non-loopback       allows a --listen address other than loopback\n"
    "  --allow-host NAME          a Host name answered beside the loopback ones (repeatable)\n"
    "  --allow-origin ORIGIN      a web origin whose pages may call the service (repeatable)\n"
    "  --poll-interval MS         how often the event stream polls the reader (10-60000, 500)\n"
    "  --quiet                    no request log\n"
    "doctor only (with --edition, --port: the port the application opens, --card, --json):\n"
    "  --folder DIR               the application's folder (default the current folder)\n"
    "  --static                   reads the files only, does not ask the reader\n"
    "  exit status 0 when everything holds, 1 when a finding fails\n";

[[noreturn]] void fail(const std::string& line) {
  std::fprintf(stderr, "idcard: %s\n", line.c_str());
  std::exit(2);
}

[[noreturn]] void print_and_exit(const char* text) {
  std::fputs(text, stdout);
  std::exit(0);
}

int number(const char* text, int low, int high, const std::string& what) {
  int v = 0;
  if (!parse_int(text, &v) || v < low || v > high)
    fail("bad " + what + " '" + text + "' (" + std::to_string(low) + " to " +
         std::to_string(high) + ")");
  return v;
}

void check_mode(const ReaderOptions& r, bool given) {
  if (!given) return;
  for (int m : r.info().modes) {
    if (m == r.mode) return;
  }
  std::string modes;
  for (int m : r.info().modes) modes += (modes.empty() ? "" : ", ") + std::to_string(m);
  fail("bad mode " + std::to_string(r.mode) + " for the " + r.edition_name + " edition (" + modes +
       ")");
}

using Handler = std::function<void(Options&, const char* value)>;
// The commands a flag belongs to.
constexpr unsigned kRead = 1, kServe = 2, kDoctor = 4;
struct Flag {
  const char* name;
  bool takes_value;
  unsigned commands;
  Handler apply;
};

const Flag kFlags[] = {
    {"--edition", true, kRead | kServe | kDoctor, [](Options& o, const char* v) {
       if (!set_edition(o.reader, v)) fail(std::string("unknown edition '") + v + "' (qdx, sdt or vantrel)");
       o.doctor.edition = v;
     }},
    {"--library", true, kRead | kServe, [](Options& o, const char* v) { o.reader.library = v; }},
    {"--port", true, kRead | kServe | kDoctor, [](Options& o, const char* v) {
       o.reader.port = o.doctor.port = number(v, 1, drv::kLastUsbPort, "port");
     }},
    {"--mode", true, kRead | kServe, [](Options& o, const char* v) { o.reader.mode = number(v, 1, 99, "mode"); }},
    {"--card", true, kRead | kServe | kDoctor, [](Options& o, const char* v) { o.reader.card = o.doctor.card = v; }},
    {"--json", false, kRead | kDoctor, [](Options& o, const char*) { o.json = o.doctor.json = true; }},
    {"--folder", true, kDoctor, [](Options& o, const char* v) { o.doctor.folder = v; }},
    {"--static", false, kDoctor, [](Options& o, const char*) { o.doctor.live = false; }},
    {"--listen", true, kServe, [](Options& o, const char* v) { o.service.listen = v; }},
    {"--allow-origin", true, kServe,
     [](Options& o, const char* v) { o.service.allowed_origins.push_back(v); }},
    {"--allow-host", true, kServe, [](Options& o, const char* v) { o.service.allowed_hosts.push_back(v); }},
    {"--allow-non-loopback", false, kServe, [](Options& o, const char*) { o.service.allow_non_loopback = true; }},
    {"--poll-interval", true, kServe, [](Options& o, const char* v) {
       o.service.poll_interval = std::chrono::milliseconds(number(v, 10, 60000, "poll interval"));
     }},
    {"--quiet", false, kServe, [](Options& o, const char*) { o.service.quiet = true; }},
};

}  // namespace

bool parse_int(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < -2147483647L - 1 || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

Options parse_options(int argc, char** argv) {
  Options o;
  int i = 1;
  unsigned command = kRead;
  if (argc > 1 && std::string(argv[1]) == "serve") {
    o.serve = true;
    command = kServe;
    ++i;
  } else if (argc > 1 && std::string(argv[1]) == "doctor") {
    o.run_doctor = true;
    command = kDoctor;
    ++i;
  }
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") print_and_exit(kUsage);
    if (arg == "--version") print_and_exit("idcard " IDCARD_VERSION "\n");
    const Flag* flag = nullptr;
    for (const Flag& f : kFlags) {
      if (arg == f.name && (f.commands & command)) flag = &f;
    }
    if (!flag) fail("unknown option '" + arg + "' (see idcard --help)");
    if (flag->takes_value && i + 1 >= argc) fail(arg + " needs a value (see idcard --help)");
    flag->apply(o, flag->takes_value ? argv[++i] : nullptr);
  }
  check_mode(o.reader, o.reader.mode != 0);
  return o;
}

}  // namespace idcard
