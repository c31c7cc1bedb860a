// The system's requests to stop: SIGINT and SIGTERM on POSIX; on Windows Ctrl+C, Ctrl+Break, the
// console window closed, the user logging off and the system shutting down.
#pragma once

#include <functional>

#include "tools/service/http.h"

namespace idcard {

class StopSignals {
 public:
  // `stop` runs on the network thread (POSIX) or on the system's handler thread (Windows): it must
  // only ask the service to stop.
  StopSignals(net::io_context& ioc, std::function<void()> stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // The service has stopped and cleaned up: a handler that holds the process open (Windows ends
  // the process once the handler of a closed console returns) may let it go.
  void finished();
};

}  // namespace idcard
