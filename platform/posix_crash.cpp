// Blocking the calling thread and ending the process abnormally, on POSIX. A file of its own, so
// that only the programs that call these functions import what they need.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace plat {

void sleep_ms(unsigned milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal handled meanwhile cuts the sleep short: sleep on for what is left.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void block_forever() {
  for (;;) pause();
}

void crash_process() {
  // No core file: the process's memory may hold card data.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  // SIGABRT with its default action, whatever the program set up: the process ends by the signal.
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigaction(SIGABRT, &action, nullptr);
  sigset_t abort_only;
  sigemptyset(&abort_only);
  sigaddset(&abort_only, SIGABRT);
  sigprocmask(SIG_UNBLOCK, &abort_only, nullptr);
  std::abort();
}

}  // namespace plat
