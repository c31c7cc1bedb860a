#include "tools/cli/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>

#include "driver/sdtapi.h"
#include "tools/cli/config.h"
#include "tools/service/addresses.h"

namespace idcard {

namespace {

constexpr const char kUsage[] =
    "usage: idcard [OPTIONS]         reads a card and prints it\n"
    "       idcard serve [OPTIONS]   serves the card to web pages on http://127.0.0.1:8089/\n"
    "       idcard service install [--config FILE] | uninstall | start | stop\n"
    "                                idcard serve as a Windows service, started with the system\n"
    "       idcard doctor [OPTIONS]  checks a deployment and says what to fix\n"
    "\n"
    "  --config FILE              takes the options from FILE, one 'key = value' a line (keys:\n"
    "                             the options' names without '--'); the command line overrides\n"
    "  --edition qdx|sdt|vantrel  the edition to read through (default sdt)\n"
    "  --library PATH             load this library instead of the edition's in dist/, with the\n"
    "                             driver beside it\n"
    "  --port N                   the reader's port: serial 1-1000, USB 1001-1016 (default 1001)\n"
    "  --mode N                   content mode / read type (qdx 1-6, sdt 1-5, vantrel 1, 2, 3, 5;\n"
    "                             default the edition's full read)\n"
    "  --simulator                reads the simulated reader of simulator/, not the reader's\n"
    "                             driver (default: the driver beside the edition, else on the\n"
    "                             system's search path, else the simulator, said on the first line)\n"
    "  --card PROFILE.json        a card profile for the simulated reader (implies --simulator)\n"
    "  --reader-folder DIR        where the reader process's private folder is made (default\n"
    "                             the user's runtime or temporary folder)\n"
    "  --json                     one JSON document instead of lines (not with serve)\n"
    "  --version                  prints the version\n"
    "  --help, -h                 prints this text\n"
    "serve only:\n"
    "  --listen HOST:PORT         where to listen (default 127.0.0.1:8089; port 0: a free one)\n"
    "  --allow-non-loopback       allows a --listen address other than loopback\n"
    "  --allow-host NAME          a Host name answered beside the loopback ones (repeatable)\n"
    "  --allow-origin ORIGIN      a web origin whose pages may call the service (repeatable)\n"
    "  --poll-interval MS         how often the event stream polls the reader (10-60000, 500)\n"
    "  --reader-timeout SECONDS   how long one call of the reader may take before it is ended\n"
    "                             and the request answered 504 (1-600, default 5; doctor: its\n"
    "                             live checks, default 10)\n"
    "  --quiet                    no request log\n"
    "  --log FILE                 appends the service's output to FILE (the Windows service's\n"
    "                             default: idcard-service.log beside idcard.exe)\n"
    "doctor only (with --edition, --port: the port the application opens, --card, --json):\n"
    "  --folder DIR               the application's folder (default the current folder)\n"
    "  --static                   reads the files only, does not ask the reader\n"
    "  --as-user NAME             checks the files' rights for the user the application runs as\n"
    "                             (Linux)\n"
    "  exit status 0 when everything holds, 1 when a finding fails\n";

// A bad option or value: the message, which the caller places.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int number(const char* text, int low, int high, const std::string& what) {
  int v = 0;
  if (!parse_int(text, &v) || v < low || v > high)
    throw UsageError("bad " + what + " '" + text + "' (" + std::to_string(low) + " to " +
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
  throw UsageError("bad mode " + std::to_string(r.mode) + " for the " + r.edition_name +
                   " edition (" + modes + ")");
}

using Handler = std::function<void(Options&, const char* value)>;
// The commands a flag belongs to (serve: also idcard service install and run).
constexpr unsigned kRead = 1, kServe = 2, kDoctor = 4;
struct Flag {
  const char* name;
  bool takes_value;
  unsigned commands;
  bool repeatable;  // each use adds to a list
  bool path;        // in a configuration file, relative to the file's folder
  Handler apply;
};

const Flag kFlags[] = {
    // name, takes a value, commands, repeatable, a path (in a configuration file), what it sets
    {"--edition", true, kRead | kServe | kDoctor, false, false, [](Options& o, const char* v) {
       if (!set_edition(o.reader, v))
         throw UsageError(std::string("unknown edition '") + v + "' (qdx, sdt or vantrel)");
       o.doctor.edition = v;
     }},
    {"--library", true, kRead | kServe, false, true,
     [](Options& o, const char* v) { o.reader.library = v; }},
    {"--port", true, kRead | kServe | kDoctor, false, false, [](Options& o, const char* v) {
       o.reader.port = o.doctor.port = number(v, 1, drv::kLastUsbPort, "port");
     }},
    {"--reader-folder", true, kRead | kServe, false, true,
     [](Options& o, const char* v) { o.reader.reader_folder = v; }},
    {"--mode", true, kRead | kServe, false, false,
     [](Options& o, const char* v) { o.reader.mode = number(v, 1, 99, "mode"); }},
    {"--simulator", false, kRead | kServe, false, false,
     [](Options& o, const char*) { o.reader.simulator = true; }},
    {"--card", true, kRead | kServe | kDoctor, false, true,
     [](Options& o, const char* v) { o.reader.card = o.doctor.card = v; }},
    {"--json", false, kRead | kDoctor, false, false,
     [](Options& o, const char*) { o.json = o.doctor.json = true; }},
    {"--folder", true, kDoctor, false, true, [](Options& o, const char* v) { o.doctor.folder = v; }},
    {"--static", false, kDoctor, false, false, [](Options& o, const char*) { o.doctor.live = false; }},
    {"--as-user", true, kDoctor, false, false, [](Options& o, const char* v) {
#if defined(_WIN32)
       (void)o;
       (void)v;
       throw UsageError("--as-user is for Linux; on Windows run idcard doctor as that user");
#else
       o.doctor.as_user = v;
#endif
     }},
    // Addresses, origins and host names are checked here with the rules the service applies, so
    // that a refusal names where the value came from.
    {"--listen", true, kServe, false, false, [](Options& o, const char* v) {
       if (!parse_listen(v))
         throw UsageError(bad_listen(v));
       o.service.listen = v;
     }},
    {"--allow-origin", true, kServe, true, false, [](Options& o, const char* v) {
       if (!parse_origin(v))
         throw UsageError(bad_origin(v));
       o.service.allowed_origins.push_back(v);
     }},
    {"--allow-host", true, kServe, true, false, [](Options& o, const char* v) {
       if (!parse_host_name(v))
         throw UsageError(bad_host_name(v));
       o.service.allowed_hosts.push_back(v);
     }},
    {"--allow-non-loopback", false, kServe, false, false,
     [](Options& o, const char*) { o.service.allow_non_loopback = true; }},
    {"--poll-interval", true, kServe, false, false, [](Options& o, const char* v) {
       o.service.poll_interval = std::chrono::milliseconds(number(v, 10, 60000, "poll interval"));
     }},
    {"--reader-timeout", true, kServe | kDoctor, false, false, [](Options& o, const char* v) {
       o.doctor.reader_timeout = number(v, 1, 600, "reader timeout");
       o.service.reader_timeout = std::chrono::seconds(o.doctor.reader_timeout);
     }},
    {"--quiet", false, kServe, false, false, [](Options& o, const char*) { o.service.quiet = true; }},
    {"--log", true, kServe, false, true, [](Options& o, const char* v) { o.service.log_file = v; }},
};

const Flag* find_flag(const std::string& name) {
  for (const Flag& f : kFlags) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

// The command given, as the flags' command bit and as the user typed it.
struct Command {
  unsigned bit = kRead;
  std::string name;
};

const std::pair<unsigned, const char*> kCommandNames[] = {
    {kRead, "idcard"}, {kServe, "idcard serve"}, {kDoctor, "idcard doctor"}};

Command command_of(unsigned bit) {
  for (const auto& [b, name] : kCommandNames) {
    if (b == bit) return {bit, name};
  }
  return {};
}

// Why a flag is not for a command, where its name does not make that plain.
struct NotFor {
  const char* flag;
  unsigned command;
  const char* why;
};
const NotFor kNotFor[] = {{"--json", kServe, "the service always answers JSON"}};

// The refusal of a flag that exists but not for `command`: the commands it is for.
std::string not_for(const Flag& flag, const Command& command) {
  std::string text = "not for " + command.name;
  for (const NotFor& n : kNotFor) {
    if (n.command == command.bit && std::string(n.flag) == flag.name)
      text.append(" (").append(n.why).append(")");
  }
  std::string names;
  for (const auto& [bit, name] : kCommandNames) {
    if (flag.commands & bit) names.append(names.empty() ? "" : " and ").append(name);
  }
  return text + ": it is for " + names;
}

// Where a configuration file set a flag ("FILE:LINE: key 'KEY': "), for a refusal that needs
// every option known first; a flag the command line set again has none.
using Sources = std::map<std::string, std::string>;

// The configuration file's entries applied in turn; every fault names the file, the line and
// the key.
void apply_config(Options& o, const std::string& path, const Command& command, Sources& sources) {
  std::string text, error;
  std::vector<ConfigEntry> entries;
  if (!read_config(path, &text, &error)) throw UsageError(error);
  if (!parse_config(text, &entries, &error)) throw UsageError(path + ": " + error);
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::map<std::string, int> seen;  // key -> line of a key that may be given once
  for (const ConfigEntry& e : entries) {
    const std::string where = path + ":" + std::to_string(e.line) + ": key '" + e.key + "': ";
    const Flag* flag = find_flag("--" + e.key);
    if (!flag) throw UsageError(where + "unknown key (see idcard --help for the options)");
    if (!(flag->commands & command.bit)) throw UsageError(where + not_for(*flag, command));
    if (!flag->repeatable) {
      const auto [earlier, first] = seen.emplace(e.key, e.line);
      if (!first)
        throw UsageError(where + "given again (first on line " + std::to_string(earlier->second) + ")");
    }
    try {
      if (!flag->takes_value) {
        if (e.value != "true" && e.value != "false")
          throw UsageError("bad value '" + e.value + "' (true or false)");
        if (e.value == "true") flag->apply(o, nullptr);
        sources[flag->name] = where;
        continue;
      }
      if (e.value.empty()) throw UsageError("needs a value");
      std::string value = e.value;
      if (flag->path && std::filesystem::path(value).is_relative())
        value = (folder / value).string();
      flag->apply(o, value.c_str());
      sources[flag->name] = where;
    } catch (const UsageError& fault) {
      throw UsageError(where + fault.what());
    }
  }
}

// The checks that need every option, each refusal naming the configuration line of the value it
// refuses when a file gave it.
void check_together(const Options& o, const Sources& sources) {
  const auto where = [&sources](const char* flag) {
    const auto it = sources.find(flag);
    return it == sources.end() ? std::string() : it->second;
  };
  try {
    check_mode(o.reader, o.reader.mode != 0);
  } catch (const UsageError& fault) {
    throw UsageError(where("--mode") + fault.what());
  }
  if (!o.serve) return;
  const std::optional<ListenAddress> address = parse_listen(o.service.listen);
  if (address && !address->loopback && !o.service.allow_non_loopback)
    throw UsageError(where("--listen") + not_loopback(*address));
}

const std::pair<const char*, ServiceAction> kActions[] = {
    {"install", ServiceAction::Install}, {"uninstall", ServiceAction::Uninstall},
    {"start", ServiceAction::Start},     {"stop", ServiceAction::Stop},
    {"run", ServiceAction::Run},
};

// The command (serve, service ACTION, doctor) at the start of the arguments; the index of the
// first option.
std::size_t parse_command(Options& o, const std::vector<std::string>& args, Command& command) {
  if (!args.empty() && args[0] == "doctor") {
    o.run_doctor = true;
    command = command_of(kDoctor);
    return 1;
  }
  if (args.empty() || (args[0] != "serve" && args[0] != "service")) return 0;
  o.serve = true;
  command = command_of(kServe);
  if (args[0] == "serve") return 1;
  for (const auto& [name, action] : kActions) {
    if (args.size() > 1 && args[1] == name) o.action = action;
  }
  if (o.action == ServiceAction::None)
    throw UsageError("idcard service needs install, uninstall, start, stop or run (see idcard --help)");
  command.name = "idcard service " + args[1];
  return 2;
}

void parse(Options& o, const std::vector<std::string>& args, ParsedOptions& out) {
  Command command = command_of(kRead);
  const std::size_t first = parse_command(o, args, command);
  // The configuration file first: the command line overrides it.
  for (std::size_t i = first; i < args.size(); ++i) {
    if (args[i] != "--config") continue;
    if (i + 1 >= args.size()) throw UsageError("--config needs a value (see idcard --help)");
    if (!o.config.empty()) throw UsageError("--config given twice");
    o.config = args[++i];
  }
  const bool takes_options = o.action == ServiceAction::None || o.action == ServiceAction::Run;
  Sources sources;
  if (!o.config.empty()) {
    if (!takes_options && o.action != ServiceAction::Install)
      throw UsageError("idcard service " + args[1] + " takes no options");
    apply_config(o, o.config, command, sources);
  }
  for (std::size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") {
      out.exit = 0;
      out.text = arg == "--version" ? "idcard " IDCARD_VERSION "\n" : kUsage;
      return;
    }
    if (arg == "--config") {
      ++i;
      continue;
    }
    if (!takes_options) {
      throw UsageError(o.action == ServiceAction::Install
                           ? "idcard service install takes only --config: put the service's "
                             "options into that file"
                           : "idcard service " + args[1] + " takes no options");
    }
    const Flag* flag = find_flag(arg);
    if (!flag) throw UsageError("unknown option '" + arg + "' (see idcard --help)");
    if (!(flag->commands & command.bit)) throw UsageError(arg + " is " + not_for(*flag, command));
    if (flag->takes_value && i + 1 >= args.size())
      throw UsageError(arg + " needs a value (see idcard --help)");
    flag->apply(o, flag->takes_value ? args[++i].c_str() : nullptr);
    sources.erase(flag->name);
  }
  check_together(o, sources);
}

}  // namespace

bool parse_int(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < -2147483647L - 1 || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

ParsedOptions parse_arguments(const std::vector<std::string>& args) {
  ParsedOptions out;
  try {
    parse(out.options, args, out);
  } catch (const UsageError& e) {
    out.exit = 2;
    out.text = e.what();
  }
  return out;
}

Options parse_options(int argc, char** argv) {
  const ParsedOptions parsed = parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.exit == 0) {
    std::fputs(parsed.text.c_str(), stdout);
    std::exit(0);
  }
  if (parsed.exit == 2) {
    std::fprintf(stderr, "idcard: %s\n", parsed.text.c_str());
    std::exit(2);
  }
  return parsed.options;
}

}  // namespace idcard
