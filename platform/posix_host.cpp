// The POSIX side of host.h's text conversion, load errors, console stop and services: GBK text
// through iconv, the loader's message read for its reason, and no console handler or service
// manager to reach (a program here watches SIGINT and SIGTERM itself).
#include <dlfcn.h>
#include <iconv.h>

#include "platform/host.h"

namespace plat {

// ---- Text --------------------------------------------------------------------------------

unsigned ansi_code_page() { return 936; }

namespace {

// GBK: a lead byte 0x81-0xFE is followed by a trail byte 0x40-0x7E or 0x80-0xFE.
bool is_lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool is_trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

}  // namespace

std::string ansi_to_utf8(std::string_view ansi) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(ansi);
  std::string out;
  std::size_t i = 0;
  while (i < ansi.size()) {
    // One character at a time: a lead byte takes its trail byte only when one follows, so a
    // broken pair costs one replacement character and never the character after it.
    const bool pair = i + 1 < ansi.size() && is_lead(static_cast<unsigned char>(ansi[i])) &&
                      is_trail(static_cast<unsigned char>(ansi[i + 1]));
    const std::size_t n = pair ? 2 : 1;
    char in[2] = {ansi[i], pair ? ansi[i + 1] : '\0'};
    char buf[8];
    char* in_ptr = in;
    char* out_ptr = buf;
    std::size_t in_left = n, out_left = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1))
      out += "\xEF\xBF\xBD";
    else
      out.append(buf, sizeof buf - out_left);
    i += n;
  }
  iconv_close(cd);
  return out;
}

// ---- Why a library did not load ----------------------------------------------------------

LoadError last_load_error() {
  LoadError e;
  const char* message = dlerror();
  e.text = message ? message : "no reason given";
  // The loader's messages: "<dependency>: cannot open shared object file" for a library the file
  // needs; "file too short", "invalid ELF header", "ELF file version ident does not match" and
  // the other words about the ELF file's own fields for a damaged one.
  const std::string_view m = e.text;
  const std::size_t colon = m.find(": ");
  const std::string_view reason = colon == std::string_view::npos ? m : m.substr(colon + 2);
  if (reason.find("cannot open shared object file") != std::string_view::npos)
    e.kind = reason.find("Permission denied") != std::string_view::npos ? LoadFailure::Refused
                                                                         : LoadFailure::NeedsLibraries;
  else if (reason.find("file too short") != std::string_view::npos ||
           reason.find("unexpected reloc") != std::string_view::npos ||
           (reason.find("ELF") != std::string_view::npos &&
            reason.find("wrong ELF class") == std::string_view::npos))
    e.kind = LoadFailure::Damaged;
  else if (reason.find("undefined symbol") != std::string_view::npos)
    e.kind = LoadFailure::NeedsLibraries;
  return e;
}

// ---- Console stop and services: none here ------------------------------------------------

bool on_console_stop(ConsoleStop) { return false; }

bool has_service_manager() { return false; }

namespace {
bool no_service_manager(std::string* error) {
  *error = "there is no Windows service manager on this system";
  return false;
}
}  // namespace

bool install_service(const ServiceSetup&, std::string* error) { return no_service_manager(error); }
bool uninstall_service(const std::string&, std::string* error) { return no_service_manager(error); }
bool start_service(const std::string&, std::string* error) { return no_service_manager(error); }
bool stop_service(const std::string&, std::string* error) { return no_service_manager(error); }
ServiceRun run_as_service(const std::string&, const ServiceBody&, int*, std::string* error) {
  no_service_manager(error);
  return ServiceRun::Failed;
}

}  // namespace plat
