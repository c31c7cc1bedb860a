// The recording driver: a stand-in for the reader's driver (built as sdtapi and stdapi) or its
// photo decoder (built as WltRS) that loads the real library under its other name from its own
// folder (sdtapi.real.dll, stdapi.real.dll, WltRS.real.dll), passes every call on to it unchanged
// and appends one line per call to the recording beside itself (FORMAT.md). Unless the person
// recording asks to keep it, the card's data in the recording is replaced by synthetic data of the
// same shape; the application always gets the real driver's answers.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include "driver/sdtapi.h"
#include "platform/platform.h"
#include "simulator/bitmap_path.h"
#include "tools/recorder/recorder.h"
#include "recording/recording.h"

#if defined(_WIN32)
#define REC_EXPORT __declspec(dllexport)
#else
#define REC_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr int kLibrary = REC_LIBRARY;

std::string own_folder() {
  return std::string(plat::folder_of(plat::module_path(plat::own_module()).c_str()));
}

// The real library, loaded from this library's folder at the first call (never from inside the
// system's load notification) and kept until the process ends.
struct Real {
  std::string path;
  plat::Module module = nullptr;
};

const Real& real() {
  static const Real r = [] {
    Real loaded;
    loaded.path = own_folder() + std::string(plat::library_file_name(recorder::kRealNames[kLibrary]));
    loaded.module = plat::load_library(loaded.path.c_str());
    return loaded;
  }();
  return r;
}

// Why the card's own data stays in the recording: the variable or the file beside; empty when it
// does not.
std::string keeps_card_data_because() {
  const char* variable = std::getenv(recorder::kKeepVariable);
  if (variable && std::string(variable) == "1") return std::string(recorder::kKeepVariable) + "=1";
  const std::string file = own_folder() + recorder::kKeepFile;
  return plat::file_exists(file.c_str()) ? "the file " + file : std::string();
}

// Whether the real library of this one lies beside it.
bool real_library_present() {
  return plat::file_exists(
      (own_folder() + std::string(plat::library_file_name(recorder::kRealNames[kLibrary]))).c_str());
}

long process_id() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<long>(getpid());
#endif
}

// Appends a line to the recording; a recording that cannot be written loses the line, never the
// call.
void append(const std::string& text) {
  const std::string line = text + "\n";
  plat::append_to_file((own_folder() + recorder::kRecordingFile).c_str(), line.data(), line.size());
}

// The first call that keeps the card's own data says so, once per process and library, on
// standard error and in the recording: whoever runs the application or reads the recording learns
// that it holds identity data.
void warn_of_kept_card_data(const std::string& because) {
  static bool warned = false;
  if (warned) return;
  warned = true;
  const std::string warning = std::string("the recording ") + own_folder() +
                              recorder::kRecordingFile + " keeps the card's own data (" + because +
                              "): it holds identity data";
  std::fprintf(stderr, "recorder: %s\n", warning.c_str());
  std::fflush(stderr);
  append(recording::warning_line(process_id(), warning));
}

// The real library's entry point of that name; nullptr when it is missing (or memory is out).
template <class Fn>
Fn lookup(int prefix, int entry) {
  try {
    return reinterpret_cast<Fn>(
        plat::entry_point(real().module, recording::call_name(prefix, entry).c_str()));
  } catch (...) {
    return nullptr;
  }
}

// Passes a call on to the real library and records it.
template <class Fn, class... A>
int forward(int prefix, int entry, const char* names, A... values) {
  const Fn fn = lookup<Fn>(prefix, entry);
  recording::Call call;
  std::vector<recording::Arg> args;
  bool recorded = true;
  try {
    call.library = kLibrary;
    call.prefix = prefix;
    call.entry = entry;
    call.process = process_id();
    args = recording::arguments(names, values...);
    recording::take_arguments(call, args);
    if (!real().module) {
      call.note = "the real library " + real().path + " cannot be loaded";
    } else if (!fn) {
      call.note = "the real library " + real().path + " lacks " + recording::call_name(prefix, entry);
    }
  } catch (...) {
    recorded = false;
  }
  const auto start = std::chrono::steady_clock::now();
  const int status = drv::call(fn, values...);
  const auto took = std::chrono::steady_clock::now() - start;
  if (!recorded) return status;
  try {
    call.status = status;
    call.microseconds = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    recording::capture(call, args);
    if (entry == SIM_GET_BMP && call.path)
      call.bitmap = plat::file_exists(sim::bitmap_path(*call.path).c_str());
    const std::string because = keeps_card_data_because();
    call.card_data_kept = !because.empty();
    if (call.card_data_kept) {
      warn_of_kept_card_data(because);
    } else {
      recording::make_synthetic(call);
    }
    append(recording::to_line(call));
  } catch (...) {
    // Out of memory: the call goes unrecorded, the application still gets its answer.
  }
  return status;
}

// Without its real library this one stands for a driver that is missing. Windows: it refuses to
// load (the load notification answers 0), so that an application or an edition finds the driver
// missing, as without any. POSIX, where a library cannot refuse its load: every call answers 0, the
// editions' own result for an entry point that the driver lacks, and this line tells why.
bool check_real_library() {
  if (real_library_present()) return true;
  try {
    std::fprintf(stderr, "recorder: %s%s is missing: this recording driver answers as a missing driver\n",
                 own_folder().c_str(),
                 std::string(plat::library_file_name(recorder::kRealNames[kLibrary])).c_str());
    std::fflush(stderr);
  } catch (...) {
  }
  return false;
}

}  // namespace

#if defined(_WIN32)
// The C runtime's start-up code of the DLL calls this on the load notifications (1: attach).
extern "C" int WINAPI DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  return reason != 1 || check_real_library() ? 1 : 0;
}
#else
__attribute__((constructor)) static void check_real_library_at_load() { check_real_library(); }
#endif

// 1 when this recording driver keeps the card's own data in its recording now (the variable
// RIDEL_RECORD_CARD_DATA=1 or the file ridel-recording.keep-card-data beside it), else 0. Only the
// recording driver has this export: a tool that checks a deployment recognises it by this name.
extern "C" REC_EXPORT int WINAPI Rec_KeepsCardData(void) {
  try {
    return keeps_card_data_because().empty() ? 0 : 1;
  } catch (...) {
    return 0;
  }
}

// Every entry point of the list that this library stands for: the driver's under each of its
// prefixes (sdtapi, stdapi), or the decoder's (WltRS).
#define REC_EXPAND(...) __VA_ARGS__
#define REC_EXPORT_AS(exported, PREFIX, Name, NAME, parameters, arguments)                   \
  extern "C" REC_EXPORT int WINAPI exported parameters {                                     \
    return forward<drv::Name##Fn>(SIM_PREFIX_##PREFIX, SIM_##NAME, #arguments,               \
                                  REC_EXPAND arguments);                                     \
  }                                                                                          \
  static_assert(std::is_same_v<decltype(&exported), drv::Name##Fn>, #exported);
#if defined(REC_DECODER)
#define REC_EXPORTS_QDX_SDT(Name, NAME, parameters, arguments)
#define REC_EXPORTS_QDX(Name, NAME, parameters, arguments)
#define REC_EXPORTS_DECODER(Name, NAME, parameters, arguments) \
  REC_EXPORT_AS(Name, NONE, Name, NAME, parameters, arguments)
#else
#define REC_EXPORTS_QDX_SDT(Name, NAME, parameters, arguments)        \
  REC_EXPORT_AS(QDX_##Name, QDX, Name, NAME, parameters, arguments) \
  REC_EXPORT_AS(SDT_##Name, SDT, Name, NAME, parameters, arguments)
#define REC_EXPORTS_QDX(Name, NAME, parameters, arguments) \
  REC_EXPORT_AS(QDX_##Name, QDX, Name, NAME, parameters, arguments)
#define REC_EXPORTS_DECODER(Name, NAME, parameters, arguments)
#endif
#define REC_EXPORTS(Name, NAME, prefixes, parameters, arguments) \
  REC_EXPORTS_##prefixes(Name, NAME, parameters, arguments)

RIDEL_DRIVER_ENTRY_POINTS(REC_EXPORTS)
