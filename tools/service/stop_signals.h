// The system's requests to stop: SIGINT and SIGTERM on POSIX; on Windows Ctrl+C, Ctrl+Break, the
// console window closed, the user logging off and the system shutting down; and, for a service
// in the background, the service manager's stop and shut-down.
#pragma once

#include <functional>

#include "tools/service/http.h"

namespace idcard {

class StopSignals {
 public:
  // `stop` runs on the network thread (POSIX signals) or on a thread of the system's (Windows
  // console, service manager): it must only ask the service to stop. `console`: the console's
  // signals are watched; a service under the service manager watches none (a service must not
  // stop when a user logs off) and is stopped through request_stop().
  StopSignals(net::io_context& ioc, std::function<void()> stop, bool console = true);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // From any thread: asks the service to stop as a stop signal does. Nothing when no service
  // runs, or once it has finished.
  static void request_stop();
  // The service has stopped and cleaned up: a handler that holds the process open (Windows ends
  // the process once the handler of a closed console returns) may let it go, and later requests
  // to stop are ignored.
  void finished();
};

}  // namespace idcard
