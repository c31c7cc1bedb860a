#include "tools/service/stop_signals.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>

#include "platform/host.h"

namespace idcard {

namespace {

// What a stop request reaches, from whichever thread it comes.
struct StopTarget {
  std::mutex mutex;
  std::function<void()> stop;  // empty when no service runs
  std::promise<void> done;
  std::shared_future<void> finished;
};
// Allocated once and never freed: a late console event must still find it.
StopTarget* const stop_target = new StopTarget;

void ask_to_stop() {
  std::lock_guard<std::mutex> lock(stop_target->mutex);
  if (stop_target->stop) stop_target->stop();
}

void on_console(bool process_ends) {
  ask_to_stop();
  std::shared_future<void> finished;
  {
    std::lock_guard<std::mutex> lock(stop_target->mutex);
    finished = stop_target->finished;
  }
  // After a closed console, a log-off or a shut-down the system ends the process once this returns:
  // wait (within the system's grace time) until the service has cleaned up.
  if (process_ends && finished.valid()) finished.wait_for(std::chrono::seconds(4));
}

std::unique_ptr<net::signal_set> stop_signal_set;

}  // namespace

StopSignals::StopSignals(net::io_context& ioc, std::function<void()> stop, bool console) {
  {
    std::lock_guard<std::mutex> lock(stop_target->mutex);
    stop_target->stop = std::move(stop);
    stop_target->done = std::promise<void>();
    stop_target->finished = stop_target->done.get_future().share();
  }
  if (!console) return;
  // Windows: the console's events. POSIX: the signals, on the network thread.
  if (plat::on_console_stop(on_console)) return;
  stop_signal_set = std::make_unique<net::signal_set>(ioc, SIGINT, SIGTERM);
  stop_signal_set->async_wait([](beast::error_code ec, int) {
    if (!ec) ask_to_stop();
  });
}

StopSignals::~StopSignals() {
  stop_signal_set.reset();
  finished();
}

void StopSignals::request_stop() { ask_to_stop(); }

void StopSignals::finished() {
  std::lock_guard<std::mutex> lock(stop_target->mutex);
  if (!stop_target->stop) return;
  stop_target->stop = nullptr;
  stop_target->done.set_value();
}

}  // namespace idcard
