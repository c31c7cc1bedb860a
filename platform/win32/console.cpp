// The console's stop requests, for the programs around the libraries.
#include <windows.h>

#include <atomic>

#include "platform/host.h"

namespace plat {

namespace {

std::atomic<ConsoleStop> console_handler{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
  const ConsoleStop handler = console_handler.load();
  if (!handler) return FALSE;
  handler(event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT);
  return TRUE;
}

}  // namespace

bool on_console_stop(ConsoleStop handler) {
  console_handler = handler;
  return SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
}

}  // namespace plat
