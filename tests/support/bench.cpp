#include "tests/support/bench.h"

#include <cstring>
#include <memory>

namespace bench {

const std::string& exe_dir() {
  static const std::string dir = plat::executable_folder();
  return dir;
}

std::string build_path(std::string_view relative) {
  // The suites live in <build>/tests/<suite>/.
  std::string path = exe_dir() + ".." + plat::kPathSeparator + ".." + plat::kPathSeparator;
  for (char c : relative) path += c == '/' ? plat::kPathSeparator : c;
  return path;
}

Bytes read_file(const std::string& path) {
  plat::File f = plat::open_file(path.c_str(), false, plat::Share::Read);
  if (!f.is_open()) return {};
  const std::int64_t size = f.size();
  Bytes out(size > 0 ? static_cast<std::size_t>(size) : 0);
  out.resize(f.read(out.data(), out.size()));
  return out;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  plat::File f = plat::create_file(path.c_str(), plat::Share::Read);
  return f.is_open() && f.write(bytes.data(), bytes.size()) == bytes.size();
}

#if defined(_WIN32)
// The one attribute query of the bench, which the platform layer has no use for: declared here
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

// ---- Simulator ----------------------------------------------------------------------------------

namespace {

const char* const kLibraryFiles[SIM_LIB_COUNT] = {
#if defined(_WIN32)
    "simulator/sdtapi.dll", "simulator/stdapi.dll", "simulator/WltRS.dll"
#else
    "simulator/libsdtapi.so", "simulator/libstdapi.so", "simulator/libwltrs.so"
#endif
};
const char* const kLibraryNames[SIM_LIB_COUNT] = {"sdtapi", "stdapi", "WltRS"};
const char* const kEntryNames[SIM_ENTRY_COUNT] = {
    "OpenPort",      "ClosePort",       "SetMaxRFByte", "GetCOMBaud",  "SetCOMBaud",
    "ResetSAM",      "GetSAMStatus",    "GetSAMID",     "GetSAMIDToStr", "StartFindIDCard",
    "SelectIDCard",  "ReadBaseMsg",     "ReadMngInfo",  "ReadNewAppMsg", "ANT",
    "GetBmp"};

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

template <class Fn>
Fn Simulator::fn(int library, const char* name) const {
  return reinterpret_cast<Fn>(plat::entry_point(modules_[library], name));
}

template <class Call>
void Simulator::each(int library, Call call) const {
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    if (!modules_[lib]) continue;
    if (library == kDrivers ? lib == SIM_LIB_WLTRS : lib != library) continue;
    call(lib);
  }
}

void Simulator::load(int library) {
  if (modules_[library]) return;
  const std::string path = build_path(kLibraryFiles[library]);
  modules_[library] = plat::load_library(path.c_str());
  if (!modules_[library]) {
    ADD_FAILURE() << "cannot load the simulator library " << path;
    return;
  }
  if (auto reset = fn<void(WINAPI*)()>(library, "Sim_Reset")) reset();
  if (auto sink = fn<void(WINAPI*)(SimSink)>(library, "Sim_SetJournalSink")) sink(&record_call);
}

void Simulator::unload(int library) {
  if (!modules_[library]) return;
  if (auto sink = fn<void(WINAPI*)(SimSink)>(library, "Sim_SetJournalSink")) sink(nullptr);
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
    fn<void(WINAPI*)()>(lib, "Sim_Reset")();
    fn<void(WINAPI*)(SimSink)>(lib, "Sim_SetJournalSink")(&record_call);
  }
  merged_journal().clear();
}

void Simulator::set_reader_port(int port) {
  each(kDrivers, [&](int lib) { fn<void(WINAPI*)(int)>(lib, "Sim_SetReaderPort")(port); });
}

void Simulator::set_status(int entry, int status, int port, int library) {
  if (entry == SIM_GET_BMP) library = SIM_LIB_WLTRS;
  each(library, [&](int lib) {
    fn<void(WINAPI*)(int, int, int)>(lib, "Sim_SetStatus")(entry, port, status);
  });
}

void Simulator::queue_status(int entry, int status, int port, int library) {
  if (entry == SIM_GET_BMP) library = SIM_LIB_WLTRS;
  each(library, [&](int lib) {
    fn<void(WINAPI*)(int, int, int)>(lib, "Sim_QueueStatus")(entry, port, status);
  });
}

void Simulator::set_record(int record, const Bytes& bytes) {
  each(kDrivers, [&](int lib) {
    fn<void(WINAPI*)(int, const void*, int)>(lib, "Sim_SetRecord")(
        record, bytes.data(), static_cast<int>(bytes.size()));
  });
}

void Simulator::set_reported_length(int record, unsigned length) {
  each(kDrivers, [&](int lib) {
    fn<void(WINAPI*)(int, unsigned)>(lib, "Sim_SetReportedLength")(record, length);
  });
}

void Simulator::set_decoder_result(int result) {
  each(SIM_LIB_WLTRS,
       [&](int lib) { fn<void(WINAPI*)(int)>(lib, "Sim_SetDecoderResult")(result); });
}

bool Simulator::load_profile(const std::string& path, std::string* error) {
  bool ok = true;
  for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
    if (!modules_[lib]) continue;
    char message[512] = {};
    if (!fn<int(WINAPI*)(const char*, char*, int)>(lib, "Sim_LoadProfile")(
            path.c_str(), message, sizeof message)) {
      ok = false;
      if (error) *error = message;
    }
  }
  return ok;
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

// ---- Library ------------------------------------------------------------------------------------

Library::Library(std::string path) : path_(std::move(path)) {
  module_ = plat::load_library(path_.c_str());
  if (!module_) ADD_FAILURE() << "cannot load " << path_;
}

Library::~Library() {
  if (!module_) return;
  plat::free_library(module_);
  // Each case must start with fresh module-wide state: the library must really be gone.
#if defined(_WIN32)
  const std::string loaded_as = path_.substr(path_.find_last_of("\\/") + 1);
#else
  const std::string& loaded_as = path_;
#endif
  EXPECT_EQ(plat::find_loaded_module(loaded_as.c_str()), nullptr) << path_ << " stayed loaded";
}

void* Library::symbol(const char* name) const { return plat::entry_point(module_, name); }

// ---- EditionTest --------------------------------------------------------------------------------

EditionTest::EditionTest(std::string library_path, std::vector<std::string> result_files)
    : library_path_(std::move(library_path)), result_files_(std::move(result_files)) {}

void EditionTest::SetUp() {
  sim().load_all();
  sim().reset();
  remove_result_files();
}

void EditionTest::TearDown() { unload_edition(); }

Library& EditionTest::edition() {
  if (!edition_) edition_ = std::make_unique<Library>(library_path_);
  return *edition_;
}

void EditionTest::unload_edition() { edition_.reset(); }

bool EditionTest::exists(const std::string& name) const {
  return plat::file_exists(out(name).c_str());
}

void EditionTest::remove_result_files() const {
  for (const std::string& name : result_files_) plat::delete_file(out(name).c_str());
}

}  // namespace bench
