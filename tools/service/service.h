// `idcard serve`: a local HTTP service that reads the card for web pages, on loopback.
//
//   GET /api/v1/card    one full read through the edition, as JSON
//   GET /api/v1/reader  whether a reader answers on the port
//   GET /api/v1/events  Server-Sent Events: a card placed, reader errors
//   GET /               a demo page
//
// The edition runs in a reader process of its own, kept between reads, whose every call runs in
// turn with a deadline: one that hangs or crashes is answered with the service's own error and
// replaced. Only requests that name this service by a host it answers to, from its own pages, from
// the origins allowed on the command line or from no other site, are answered.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/editions/options.h"
#include "tools/service/options.h"

namespace idcard {

// How serve() runs: as a console program, stopped by the console's stop signals, or under the
// service manager, which stops it through StopSignals::request_stop() and is told once it serves.
struct ServeRun {
  bool console = true;
  std::function<void()> serving;  // called once it listens
};

class ReaderCalls;

class Service {
 public:
  // `calls`: how the reader is called; empty: the reader process.
  Service(ReaderOptions reader, ServeOptions serve, std::unique_ptr<ReaderCalls> calls = nullptr);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Starts the reader process and binds the address; false with a message.
  bool start(std::string* error);
  // The port bound by start().
  int port() const;
  // Serves until stop(); call after start().
  void run();
  // From any thread: takes no more connections, ends every connection and stream; run() returns
  // once the network is quiet.
  void stop();
  // After run(): the running call finishes and the reader process ends. Also done by the
  // destructor.
  void finish();

  // Runs `fn` on the worker thread between reader calls and waits for it: lets a test script the
  // simulated reader without racing the service's calls.
  void on_worker(const std::function<void()>& fn);
  // Ends the reader process between calls; the next call starts a new one.
  void end_reader();

  struct Impl;  // tools/service/state.h

 private:
  friend int serve(const ReaderOptions& reader, const ServeOptions& serve, const ServeRun& run);

  std::unique_ptr<Impl> impl_;
};

// Runs the service for `idcard serve` until the system asks it to stop; the exit status (2 when
// it cannot start). With a log file, the service's output goes there.
int serve(const ReaderOptions& reader, const ServeOptions& serve, const ServeRun& run = {});

}  // namespace idcard
