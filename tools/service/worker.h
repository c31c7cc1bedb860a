// The one thread that makes every library call (the editions are not thread-safe), in the order
// the calls were submitted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace idcard {

// Library calls waiting for the worker, and how long a request waits for its turn.
inline constexpr std::size_t kMaxPending = 32;
inline constexpr auto kMaxWait = std::chrono::seconds(15);

// Runs jobs one after another on its own thread. A job is told whether to run: not when its
// deadline passed while it waited, nor once the worker stops.
class Worker {
 public:
  using Job = std::function<void(bool run)>;
  using Clock = std::chrono::steady_clock;

  Worker();
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // False when kMaxPending jobs are waiting already (or the worker stops).
  bool submit(Job job, Clock::time_point deadline);
  // Takes no more jobs; the running one finishes, those waiting are told not to run, then `last`
  // runs on the worker thread and the thread ends. Returns once it has.
  void stop(const std::function<void()>& last = {});

 private:
  struct Item {
    Job job;
    Clock::time_point deadline;
  };
  void loop();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool stopping_ = false;
  std::function<void()> last_;
  std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace idcard
