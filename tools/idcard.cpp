// idcard: reads a card through one edition library, as an application does, and prints it; or,
// as `idcard serve`, hands the card to web pages through a local HTTP service.
//
//   idcard [--edition qdx|sdt|vantrel] [--library PATH] [--port N] [--mode N]
//          [--card PROFILE.json] [--json]
//   idcard serve [the options above but --json] [--listen HOST:PORT] [--allow-origin ORIGIN]...
//                [--allow-non-loopback] [--poll-interval MS] [--quiet]
//
// Result files land beside this program.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/card_reader.h"
#include "tools/serve.h"

namespace {

using namespace idcard;

constexpr const char kUsage[] =
    "usage: idcard [--edition qdx|sdt|vantrel] [--library PATH] [--port N] [--mode N]\n"
    "              [--card PROFILE.json] [--json]\n"
    "       idcard serve [--edition ...] [--library ...] [--port ...] [--mode ...] [--card ...]\n"
    "              [--listen HOST:PORT] [--allow-origin ORIGIN]... [--allow-non-loopback]\n"
    "              [--poll-interval MS] [--quiet]\n";

[[noreturn]] void fail(int code, const std::string& line) {
  std::fprintf(stderr, "idcard: %s\n", line.c_str());
  std::exit(code);
}

struct Options {
  ReaderOptions reader;
  bool serve = false;
  ServeOptions service;
  bool json = false;
};

Options parse(int argc, char** argv) {
  Options o;
  int i = 1;
  if (argc > 1 && std::string(argv[1]) == "serve") {
    o.serve = true;
    ++i;
  }
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) fail(2, arg + " needs a value\n" + kUsage);
      return argv[++i];
    };
    if (arg == "--edition") {
      const std::string name = value();
      if (!set_edition(o.reader, name))
        fail(2, "unknown edition '" + name + "' (qdx, sdt or vantrel)");
    } else if (arg == "--library") {
      o.reader.library = value();
    } else if (arg == "--port") {
      const char* v = value();
      if (!parse_int(v, &o.reader.port) || o.reader.port < 1)
        fail(2, std::string("bad port number '") + v + "' (serial 1-1000, USB 1001-1016)");
    } else if (arg == "--mode") {
      const char* v = value();
      if (!parse_int(v, &o.reader.mode)) fail(2, std::string("bad mode '") + v + "'");
    } else if (arg == "--card") {
      o.reader.card = value();
    } else if (arg == "--json" && !o.serve) {
      o.json = true;
    } else if (arg == "--listen" && o.serve) {
      o.service.listen = value();
    } else if (arg == "--allow-origin" && o.serve) {
      o.service.allowed_origins.push_back(value());
    } else if (arg == "--allow-non-loopback" && o.serve) {
      o.service.allow_non_loopback = true;
    } else if (arg == "--poll-interval" && o.serve) {
      const char* v = value();
      int ms = 0;
      if (!parse_int(v, &ms) || ms < 10 || ms > 60000)
        fail(2, std::string("bad poll interval '") + v + "' (10 to 60000 ms)");
      o.service.poll_interval = std::chrono::milliseconds(ms);
    } else if (arg == "--quiet" && o.serve) {
      o.service.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      fail(2, "unknown option '" + arg + "'\n" + kUsage);
    }
  }
  return o;
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

void print(const Options& o, const std::string& library, const Card& card) {
  struct Found {
    const char* name;
    std::int64_t size;
  };
  std::vector<Found> files;
  for (const char* name : result_files(o.reader.edition)) {
    plat::File f = plat::open_file((program_folder() + name).c_str(), false, plat::Share::Read);
    if (f.is_open()) files.push_back({name, f.size()});
  }
  if (o.json) {
    std::string out = "{\"edition\":" + json_string(o.reader.edition_name) +
                      ",\"library\":" + json_string(library) +
                      ",\"port\":" + std::to_string(o.reader.port) + ",\"fields\":{";
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
  std::printf("%-17s %s (%s)\n", "edition", o.reader.edition_name.c_str(), library.c_str());
  std::printf("%-17s %d\n", "port", o.reader.port);
  for (const Field& f : card.fields) std::printf("%-17s %s\n", f.key, f.value.c_str());
  std::printf("%-17s %s\n", "photo", card.photo.c_str());
  for (const Found& f : files)
    std::printf("%-17s %s, %lld bytes\n", "file", f.name, static_cast<long long>(f.size));
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (o.serve) return serve(o.reader, o.service);
  Library library;
  std::string error;
  if (!load(o.reader, &library, &error)) fail(2, error);
  // The result files of an earlier read go first, so that those listed are this read's own.
  for (const char* name : result_files(o.reader.edition))
    plat::delete_file((program_folder() + name).c_str());
  const ReadResult r = read_card(library, o.reader);
  const std::string path = library.path;
  unload(&library);
  if (!r.ok) fail(1, r.error.line());
  print(o, path, r.card);
  return 0;
}
