#include "tools/service/stop_signals.h"

#include <chrono>
#include <future>
#include <memory>

namespace idcard {

#if defined(_WIN32)

namespace {

struct Handler {
  std::function<void()> stop;
  std::promise<void> done;
  std::shared_future<void> finished;
};
Handler* handler = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  if (!handler) return FALSE;
  handler->stop();
  // After a closed console, a log-off or a shut-down the system ends the process once this returns:
  // wait (within the system's grace time) until the service has cleaned up.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    handler->finished.wait_for(std::chrono::seconds(4));
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(net::io_context&, std::function<void()> stop) {
  handler = new Handler;
  handler->stop = std::move(stop);
  handler->finished = handler->done.get_future().share();
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

StopSignals::~StopSignals() {
  // The handler stays registered and allocated: a late event must still find it.
}

void StopSignals::finished() {
  if (handler) handler->done.set_value();
}

#else

namespace {
std::unique_ptr<net::signal_set> signals;
}  // namespace

StopSignals::StopSignals(net::io_context& ioc, std::function<void()> stop) {
  signals = std::make_unique<net::signal_set>(ioc, SIGINT, SIGTERM);
  signals->async_wait([stop = std::move(stop)](beast::error_code ec, int) {
    if (!ec) stop();
  });
}

StopSignals::~StopSignals() { signals.reset(); }

void StopSignals::finished() {}

#endif

}  // namespace idcard
