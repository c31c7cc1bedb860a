// `idcard serve`: a local HTTP service that reads the card for web pages, on loopback.
//
//   GET /api/v1/card    one full read through the edition, as JSON
//   GET /api/v1/reader  whether a reader answers on the port
//   GET /api/v1/events  Server-Sent Events: a card placed, reader errors
//   GET /               a demo page
//
// Every library call runs on one worker thread, in order. Only requests that name this service by
// a loopback host and its port, from its own pages or from the origins allowed on the command line,
// are answered.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/card_reader.h"

namespace idcard {

struct ServeOptions {
  std::string listen = "127.0.0.1:8089";  // HOST:PORT; port 0 picks a free one
  bool allow_non_loopback = false;        // needed to listen on any other address
  std::vector<std::string> allowed_origins;
  std::chrono::milliseconds poll_interval{500};  // of the event stream while anyone listens
  bool quiet = false;                            // no request log
};

// ---- Pieces with rules of their own -------------------------------------------------------------

struct ListenAddress {
  std::string host;  // as given, without the brackets of an IPv6 address
  int port = 0;
  bool loopback = false;
};
// "127.0.0.1:8089", "localhost:0", "[::1]:8089"; nullopt when malformed.
std::optional<ListenAddress> parse_listen(const std::string& text);

// An origin as --allow-origin takes it: http or https, a host, an optional port, nothing else
// ("http://localhost:3000"). Lower-cased; nullopt when it is not one (a wildcard, a path, ...).
std::optional<std::string> parse_origin(const std::string& text);

// Whether a Host header names this service: a loopback host (or `extra_host`, the address it
// listens on when that is another one) and the service's port.
bool host_allowed(const std::string& header, int port, const std::string& extra_host);

// The rule of the event stream: each card is reported once when it is placed. After a report the
// same card (same ID number) is reported again only once a poll has found no card; another card is
// reported at once. A reader error is reported when it starts or changes, and its end is reported
// when the reader answers again; an error says nothing about whether the card was taken off.
class CardTracker {
 public:
  struct Events {
    bool ready = false;  // the reader answers again after an error
    bool card = false;   // report the card just read
    bool error = false;  // report the error just seen
  };
  Events card(const std::string& id_number);
  Events no_card();
  Events error(const std::string& key);
  // Whether the last poll found the card last reported.
  bool card_present() const { return present_; }
  bool in_error() const { return in_error_; }

 private:
  Events recovered();

  std::optional<std::string> reported_;
  bool gone_since_report_ = false;
  bool present_ = false;
  bool in_error_ = false;
  std::string error_key_;
};

// ---- The service --------------------------------------------------------------------------------

class Service {
 public:
  Service(ReaderOptions reader, ServeOptions serve);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Loads the library (on the worker thread) and binds the address; false with a message.
  bool start(std::string* error);
  // The port bound by start().
  int port() const;
  // Serves until stop(); call after start().
  void run();
  void stop();

  // Runs `fn` on the worker thread between library calls and waits for it: lets a test script the
  // simulated reader without racing the service's calls.
  void on_worker(const std::function<void()>& fn);

  struct Impl;  // defined in serve.cpp only

 private:
  std::unique_ptr<Impl> impl_;
};

// Runs the service for `idcard serve` until the process is stopped; the exit status.
int serve(const ReaderOptions& reader, const ServeOptions& serve);

}  // namespace idcard
