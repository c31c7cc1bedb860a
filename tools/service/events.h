// The event stream: the reader is polled while at least one page listens, and every listener is
// told of each card placed, of reader errors and of the reader's recovery.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "tools/service/http.h"
#include "tools/service/reads.h"

namespace idcard {

inline constexpr std::size_t kMaxStreams = 16;

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

// A page's event stream, as the hub sees it.
class EventStream {
 public:
  virtual ~EventStream() = default;
  // Queues one event (a failed or backed-up send closes the stream, which unsubscribes it).
  virtual void send_event(const std::string& text) = 0;
  virtual void close() = 0;
};

// The registry of streams and their polling; network thread only.
class EventHub {
 public:
  EventHub(net::io_context& ioc, Reads& reads, std::chrono::milliseconds poll_interval);

  // Takes one of the kMaxStreams places for a stream about to open; false when none is free.
  bool admit();
  // Gives back a place taken by admit() whose stream never opened.
  void release();
  // A stream whose head went out: it gets what the others know, and polling starts.
  void subscribe(const std::shared_ptr<EventStream>& stream);
  // A stream that ended; gives back its place. Polling stops with the last one.
  void unsubscribe(const std::shared_ptr<EventStream>& stream);
  void start_heartbeat();
  // Ends every stream and the timers.
  void stop();

 private:
  void schedule_poll(std::chrono::milliseconds delay);
  void poll();
  void deliver(const ReadReply& reply);
  void broadcast(const std::string& event);

  Reads& reads_;
  const std::chrono::milliseconds poll_interval_;
  std::set<std::shared_ptr<EventStream>> streams_;
  std::size_t admitted_ = 0;
  CardTracker tracker_;
  std::string last_card_event_;
  std::string last_error_event_;
  net::steady_timer poll_timer_;
  bool poll_active_ = false;  // a poll of this round is scheduled or running
  // Counts the rounds of polling: one ends when the last stream leaves. A timer's handler or a
  // poll's answer of an earlier round finds the round changed and leaves the state alone, so a
  // stream that subscribes before they have run starts a round of its own.
  unsigned round_ = 0;
  bool stopped_ = false;
  net::steady_timer heartbeat_timer_;
};

}  // namespace idcard
