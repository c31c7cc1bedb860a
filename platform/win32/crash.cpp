// Blocking the calling thread and ending the process abnormally.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

void block_forever() {
  for (;;) Sleep(INFINITE);
}

// TerminateProcess ends the process at once with the given code: no unhandled-exception filter,
// no error reporting dialog, no DLL detach notifications.
void crash_process() {
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  for (;;) Sleep(INFINITE);  // the process is ending; this thread never runs on
}

}  // namespace plat
