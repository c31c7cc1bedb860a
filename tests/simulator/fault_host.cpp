// A host for the faults that block a call or end the process, which a test can only watch from
// outside: it loads one simulator library, calls one of its exports, and reports how that went.
//   sim_fault_host <library> <profile> <export> <calls before> <watchdog ms>
// It makes <calls before> calls of <export>, then hands <profile> to the library (Sim_LoadProfile;
// "-": none, RIDEL_SIM_CARD names it), then calls <export> once more, on a port that is not open.
// Exit status: 0 when that call returned, 3 when it was still blocked after <watchdog ms>, 2 when
// the set-up failed; a crash ends the process on its own terms.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/sdtapi.h"
#include "platform/platform.h"

namespace {

constexpr int kReturned = 0;
constexpr int kSetupFailed = 2;
constexpr int kStillBlocked = 3;

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Calls the export with arguments of its kind; false when this host does not know the kind.
bool call(void* fn, const std::string& name) {
  unsigned char text[256], photo[1024], buffer[8];
  unsigned text_length = 0, photo_length = 0;
  char path[] = "fault-host.wlt";
  if (ends_with(name, "OpenPort")) {
    reinterpret_cast<drv::OpenPortFn>(fn)(1001);
  } else if (ends_with(name, "StartFindIDCard")) {
    reinterpret_cast<drv::StartFindIDCardFn>(fn)(1001, buffer, 0);
  } else if (ends_with(name, "ReadBaseMsg")) {
    reinterpret_cast<drv::ReadBaseMsgFn>(fn)(1001, text, &text_length, photo, &photo_length, 0);
  } else if (name == "GetBmp") {
    reinterpret_cast<drv::GetBmpFn>(fn)(path, 2);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: sim_fault_host <library> <profile> <export> <calls before> <watchdog ms>\n");
    return kSetupFailed;
  }
  const std::string profile = argv[2], name = argv[3];
  const int before = std::atoi(argv[4]);
  const unsigned watchdog = static_cast<unsigned>(std::atoi(argv[5]));
  plat::Module library = plat::load_library(argv[1]);
  void* fn = plat::entry_point(library, name.c_str());
  using LoadProfile = int(WINAPI*)(const char*, char*, int);
  auto load = reinterpret_cast<LoadProfile>(plat::entry_point(library, "Sim_LoadProfile"));
  if (!fn || !load) {
    std::fprintf(stderr, "sim_fault_host: %s or its %s missing\n", argv[1], name.c_str());
    return kSetupFailed;
  }
  for (int i = 0; i < before; ++i)
    if (!call(fn, name)) return kSetupFailed;
  char error[512] = {};
  if (profile != "-" && !load(profile.c_str(), error, sizeof error)) {
    std::fprintf(stderr, "sim_fault_host: %s\n", error);
    return kSetupFailed;
  }
  std::thread([watchdog] {
    plat::sleep_ms(watchdog);
    std::fflush(stdout);
    std::_Exit(kStillBlocked);
  }).detach();
  call(fn, name);
  return kReturned;
}
