// The reader as the routes and the event stream see it: a read or a reader check is submitted,
// runs on the worker thread in turn (one call at a time, in order), and its answer comes back on
// the network thread. Every call has a deadline; a reader process that hangs, crashes or cannot be
// started is answered with the service's own error at once, and the next call starts a new one.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "tools/reader/reader_process.h"
#include "tools/service/http.h"
#include "tools/service/worker.h"

namespace idcard {

// The reader process as the service drives it, on the worker thread only. The service's own is
// ReaderProcess; a test may hand in another.
class ReaderCalls {
 public:
  virtual ~ReaderCalls() = default;
  virtual ReaderAnswer start(std::chrono::milliseconds deadline) = 0;
  virtual ReaderAnswer read(std::chrono::milliseconds deadline) = 0;
  virtual ReaderAnswer check(std::chrono::milliseconds deadline) = 0;
  // Ends the reader process (and removes its folder); the next call starts a new one.
  virtual void stop() = 0;
};

std::unique_ptr<ReaderCalls> reader_process_calls(const ReaderOptions& options);

// The waits before a new start after one that could not start: the first, doubled after each
// failed start up to the last.
inline constexpr auto kFirstRestartWait = std::chrono::seconds(1);
inline constexpr auto kLastRestartWait = std::chrono::seconds(30);

// One answer of the reader as the service gives it.
struct ReadReply {
  http::status status = http::status::ok;
  std::string document;  // the body: the card, the reader's state, or the error
  int retry_after = 0;   // seconds; 0: no Retry-After
  // For the event stream: what the call found.
  enum class Found { Card, NoCard, Error, Busy } found = Found::Error;
  std::string key;  // the card's ID number, or what tells one error from another
};

class Reads {
 public:
  Reads(net::io_context& ioc, std::string edition_name, int port, std::unique_ptr<ReaderCalls> reader,
        std::chrono::milliseconds timeout);
  ~Reads();
  Reads(const Reads&) = delete;
  Reads& operator=(const Reads&) = delete;

  // Starts the reader process; false with its message. `started` gets the start's answer: the
  // driver file it reads through, and the notice when that is the simulator though not asked for.
  bool start(std::string* error, ReaderAnswer* started = nullptr);

  enum class What { Card, Reader };
  using Done = std::function<void(ReadReply)>;
  // Runs `what` in turn and hands its answer to `done` on the network thread: a busy answer when
  // the queue is full or the call waited past `wait_until`. False when nothing was queued (the
  // queue full or the service stopping): `done` was not called.
  bool submit(What what, Done done, Clock::time_point wait_until);
  // The busy answer.
  static ReadReply busy();

  // Runs `fn` on the worker thread between calls and waits for it.
  void on_worker(const std::function<void()>& fn);
  // Ends the reader process between calls (on the worker): the next call starts a new one.
  void end_reader();
  // The running call finishes, queued ones are dropped, the reader process ends.
  void finish();

 private:
  ReadReply call(What what);
  ReadReply answer_of(What what, ReaderAnswer a);

  net::io_context& ioc_;
  const std::string edition_name_;
  const int port_;
  const std::chrono::milliseconds timeout_;
  // Worker thread only.
  std::unique_ptr<ReaderCalls> reader_;
  Clock::time_point next_start_{};        // no start before this, after one that failed
  std::chrono::milliseconds restart_wait_{0};  // the wait after the next failed start
  std::string no_reader_;                 // the last failed start's document
  std::unique_ptr<Worker> worker_;        // last: stopped first
};

}  // namespace idcard
