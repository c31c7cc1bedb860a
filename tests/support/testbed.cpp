#include "tests/support/testbed.h"

#include <cstdio>
#include <cstdlib>

namespace testbed {

// ---- Failures -----------------------------------------------------------------------------------

namespace {

void print_and_abort(const std::string& message) {
  std::fprintf(stderr, "testbed: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

FailureHandler failure_handler = &print_and_abort;

}  // namespace

void set_failure_handler(FailureHandler handler) {
  failure_handler = handler ? handler : &print_and_abort;
}

void fail(const std::string& message) { failure_handler(message); }

// ---- Where things are ---------------------------------------------------------------------------

const std::string& output_folder() {
  static const std::string folder = plat::executable_folder();
  return folder;
}

std::string file_name(const LibraryFile& library) {
  return std::string(plat::library_file_name(library.windows_name));
}

const std::string& build_folder() {
  static const std::string folder = [] {
    const std::string marker = std::string(kSimulatorLibraries[SIM_LIB_SDTAPI].folder) +
                               plat::kPathSeparator +
                               file_name(kSimulatorLibraries[SIM_LIB_SDTAPI]);
    std::string dir = output_folder();
    while (!dir.empty()) {
      if (plat::file_exists((dir + marker).c_str())) return dir;
      // One folder up: the folder part of the path without its last separator.
      const std::string parent(plat::folder_of(std::string_view(dir).substr(0, dir.size() - 1)));
      if (parent.size() >= dir.size()) break;
      dir = parent;
    }
    return std::string(RIDEL_BUILD_DIR) + plat::kPathSeparator;
  }();
  return folder;
}

std::string build_path(std::string_view relative) {
  std::string path = build_folder();
  for (char c : relative) path += c == '/' ? plat::kPathSeparator : c;
  return path;
}

std::string library_path(const LibraryFile& library) {
  return build_path(library.folder) + plat::kPathSeparator + file_name(library);
}

std::string simulator_path(int library) { return library_path(kSimulatorLibraries[library]); }

// ---- Files and texts ----------------------------------------------------------------------------

Bytes read_file(const std::string& path) {
  // Far more than any result file, recording or log a test makes.
  constexpr std::size_t kMaxBytes = std::size_t{256} << 20;
  Bytes out;
  plat::read_whole_file(path.c_str(), kMaxBytes, out);
  return out;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  plat::File f = plat::create_file(path.c_str(), plat::Share::Read);
  return f.is_open() && f.write(bytes.data(), bytes.size()) == bytes.size();
}

#if defined(_WIN32)
// The one attribute query of the test bed, which the platform layer has no use for: declared here
// rather than through <windows.h>, which only the platform layer includes.
extern "C" __declspec(dllimport) unsigned long __stdcall GetFileAttributesA(const char* path);
#endif

bool file_hidden(const std::string& path) {
#if defined(_WIN32)
  constexpr unsigned long kInvalid = 0xFFFFFFFFul, kHidden = 0x2;  // FILE_ATTRIBUTE_HIDDEN
  const unsigned long attributes = GetFileAttributesA(path.c_str());
  return attributes != kInvalid && (attributes & kHidden) != 0;
#else
  (void)path;
  return false;
#endif
}

std::string text(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes ucs2(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text) {
    out.push_back(static_cast<unsigned char>(c & 0xFF));
    out.push_back(static_cast<unsigned char>(c >> 8));
  }
  return out;
}

IdentityRecord::IdentityRecord() : bytes_(drv::kIdentityBytes, 0) {
  for (int i = 0; i < drv::kIdentityBytes; i += 2) bytes_[i] = ' ';
}

IdentityRecord& IdentityRecord::set(rec::Field field, std::u16string_view value) {
  const rec::Span s = rec::span(field);
  for (int i = 0; i < s.units(); ++i) {
    const char16_t c = i < static_cast<int>(value.size()) ? value[i] : u' ';
    bytes_[s.offset + 2 * i] = static_cast<unsigned char>(c & 0xFF);
    bytes_[s.offset + 2 * i + 1] = static_cast<unsigned char>(c >> 8);
  }
  return *this;
}

IdentityRecord& IdentityRecord::set_raw(rec::Field field, std::u16string_view units) {
  const rec::Span s = rec::span(field);
  for (int i = 0; i < s.units() && i < static_cast<int>(units.size()); ++i) {
    bytes_[s.offset + 2 * i] = static_cast<unsigned char>(units[i] & 0xFF);
    bytes_[s.offset + 2 * i + 1] = static_cast<unsigned char>(units[i] >> 8);
  }
  return *this;
}

// ---- Programs -----------------------------------------------------------------------------------

void set_variable(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

int run_command(const std::string& command) {
#if defined(_WIN32)
  // The command processor drops the outer quotes.
  return std::system(("\"" + command + "\"").c_str());
#else
  return std::system(command.c_str());
#endif
}

int run_program(const std::string& program, const std::vector<std::string>& args) {
  std::string command = "\"" + program + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  return run_command(command);
}

// ---- The simulated reader -----------------------------------------------------------------------

namespace {

const char* const kLibraryNames[SIM_LIB_COUNT] = {"sdtapi", "stdapi", "WltRS"};
const char* const kEntryNames[SIM_ENTRY_COUNT] = {
#define TESTBED_ENTRY_NAME(Name, NAME, prefixes, parameters, arguments) #Name,
    RIDEL_DRIVER_ENTRY_POINTS(TESTBED_ENTRY_NAME)
#undef TESTBED_ENTRY_NAME
};

std::vector<SimCall>& merged_journal() {
  static std::vector<SimCall> journal;
  return journal;
}

void WINAPI record_call(const SimCall* call) {
  if (call) merged_journal().push_back(*call);
}

}  // namespace

std::string describe(const SimCall& call) {
  std::string line = call.library >= 0 && call.library < SIM_LIB_COUNT
                         ? kLibraryNames[call.library]
                         : "?";
  line += ' ';
  if (call.prefix == SIM_PREFIX_QDX) line += "QDX_";
  if (call.prefix == SIM_PREFIX_SDT) line += "SDT_";
  line += call.entry >= 0 && call.entry < SIM_ENTRY_COUNT ? kEntryNames[call.entry] : "?";
  line += '(';
  if (call.entry == SIM_GET_BMP) {
    line += std::string(call.path) + ", " + std::to_string(call.value);
  } else if (call.entry == SIM_OPEN_PORT || call.entry == SIM_CLOSE_PORT) {
    line += std::to_string(call.port);
  } else {
    line += std::to_string(call.port) + ", " + std::to_string(call.value);
  }
  return line + ')';
}

Simulator& Simulator::instance() {
  static Simulator sim;
  return sim;
}

void* Simulator::entry(int library, const char* name) const {
  void* p = plat::entry_point(modules_[library], name);
  if (!p) fail(std::string(kLibraryNames[library]) + " of the simulator lacks " + name);
  return p;
}

// Calls `call(library)` for each loaded library that `library` names: one of them, or kDrivers.
template <class Call>
void Simulator::each(int library, Call call) const {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    if (!modules_[lib]) continue;
    if (library == kDrivers ? lib == SIM_LIB_WLTRS : lib != library) continue;
    call(lib);
  }
}

namespace {

// Calls a control entry point of a simulator library when it has it.
template <class... Args>
void control(const Simulator& sim, int library, const char* name, Args... args) {
  if (auto fn = sim.entry<void(WINAPI*)(Args...)>(library, name)) fn(args...);
}

}  // namespace

void Simulator::attach_sink(int library) const {
  control(*this, library, "Sim_SetJournalSink", recording_ ? &record_call : SimSink{});
}

void Simulator::load(int library) { load(library, kSimulatorLibraries[library]); }

void Simulator::load(int library, const LibraryFile& file) {
  if (modules_[library]) return;
  const std::string path = library_path(file);
  modules_[library] = plat::load_library(path.c_str());
  if (!modules_[library]) {
    fail("cannot load the simulator library " + path);
    return;
  }
  control(*this, library, "Sim_Reset");
  attach_sink(library);
}

void Simulator::unload(int library) {
  if (!modules_[library]) return;
  control(*this, library, "Sim_SetJournalSink", SimSink{});
  plat::free_library(modules_[library]);
  modules_[library] = nullptr;
}

bool Simulator::loaded(int library) const { return modules_[library] != nullptr; }

void Simulator::load_all() {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) load(lib);
}

void Simulator::reset() {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    if (!modules_[lib]) continue;
    control(*this, lib, "Sim_Reset");  // which also drops the sink
    attach_sink(lib);
  }
  merged_journal().clear();
}

void Simulator::set_reader_port(int port) {
  each(kDrivers, [&](int lib) { control(*this, lib, "Sim_SetReaderPort", port); });
}

void Simulator::set_status(int entry, int status, int port, int library) {
  if (entry == SIM_GET_BMP) library = SIM_LIB_WLTRS;
  each(library, [&](int lib) { control(*this, lib, "Sim_SetStatus", entry, port, status); });
}

void Simulator::queue_status(int entry, int status, int port, int library) {
  if (entry == SIM_GET_BMP) library = SIM_LIB_WLTRS;
  each(library, [&](int lib) { control(*this, lib, "Sim_QueueStatus", entry, port, status); });
}

void Simulator::set_record(int record, const Bytes& bytes) {
  each(kDrivers, [&](int lib) {
    control(*this, lib, "Sim_SetRecord", record, static_cast<const void*>(bytes.data()),
            static_cast<int>(bytes.size()));
  });
}

void Simulator::set_reported_length(int record, unsigned length) {
  each(kDrivers, [&](int lib) { control(*this, lib, "Sim_SetReportedLength", record, length); });
}

void Simulator::set_decoder_result(int result) {
  each(SIM_LIB_WLTRS, [&](int lib) { control(*this, lib, "Sim_SetDecoderResult", result); });
}

bool Simulator::load_profile(const std::string& path, std::string* error) {
  bool ok = true;
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    if (!modules_[lib]) continue;
    using Fn = int(WINAPI*)(const char*, char*, int);
    const auto load = entry<Fn>(lib, "Sim_LoadProfile");
    char message[512] = {};
    if (load && !load(path.c_str(), message, sizeof message)) {
      ok = false;
      if (error) *error = message;
    }
  }
  return ok;
}

void Simulator::record(bool on) {
  recording_ = on;
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib)
    if (modules_[lib]) attach_sink(lib);
}

const std::vector<SimCall>& Simulator::journal() const { return merged_journal(); }
void Simulator::clear_journal() { merged_journal().clear(); }

std::vector<std::string> Simulator::journal_lines() const {
  std::vector<std::string> lines;
  for (const SimCall& c : merged_journal()) lines.push_back(describe(c));
  return lines;
}

std::vector<std::string> Simulator::journal_lines(int entry) const {
  std::vector<std::string> lines;
  for (const SimCall& c : merged_journal())
    if (c.entry == entry) lines.push_back(describe(c));
  return lines;
}

int Simulator::count(int entry) const {
  int n = 0;
  for (const SimCall& c : merged_journal()) n += c.entry == entry;
  return n;
}

// ---- Libraries ----------------------------------------------------------------------------------

Library::Library(std::string path) : path_(std::move(path)) {
  module_ = plat::load_library(path_.c_str());
  if (!module_) fail("cannot load " + path_);
}

Library::~Library() {
  if (!module_) return;
  plat::free_library(module_);
  // Windows finds a loaded module by its file name, POSIX by the path it was loaded by.
#if defined(_WIN32)
  const std::string loaded_as = path_.substr(path_.find_last_of("\\/") + 1);
#else
  const std::string& loaded_as = path_;
#endif
  if (plat::find_loaded_module(loaded_as.c_str())) fail(path_ + " stayed loaded");
}

void* Library::symbol(const char* name) const { return plat::entry_point(module_, name); }

void* Library::required(const char* name) const {
  void* p = symbol(name);
  if (!p) fail(std::string("export ") + name + " missing from " + path_);
  return p;
}

}  // namespace testbed
