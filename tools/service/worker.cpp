#include "tools/service/worker.h"

namespace idcard {

Worker::Worker() : thread_([this] { loop(); }) {}

Worker::~Worker() { stop(); }

bool Worker::submit(Job job, Clock::time_point deadline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || queue_.size() >= kMaxPending) return false;
    queue_.push_back({std::move(job), deadline});
  }
  cv_.notify_one();
  return true;
}

void Worker::stop(const std::function<void()>& last) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    last_ = last;
  }
  cv_.notify_all();
  thread_.join();
}

void Worker::loop() {
  for (;;) {
    Item item;
    bool run;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) break;
      item = std::move(queue_.front());
      queue_.pop_front();
      run = !stopping_ && Clock::now() <= item.deadline;
    }
    try {
      item.job(run);
    } catch (...) {
      // A job reports its own failures; nothing may end the worker.
    }
  }
  if (last_) last_();
}

}  // namespace idcard
