#include "tools/service/events.h"

#include <vector>

namespace idcard {

namespace {

constexpr auto kHeartbeat = std::chrono::seconds(15);

// One event of the stream, in the Server-Sent Events format.
std::string sse(const char* event, const std::string& data) {
  return std::string("event: ") + event + "\ndata: " + data + "\n\n";
}

}  // namespace

// ---- The reporting rule ---------------------------------------------------------------------

CardTracker::Events CardTracker::recovered() {
  Events e;
  e.ready = in_error_;
  in_error_ = false;
  error_key_.clear();
  return e;
}

CardTracker::Events CardTracker::card(const std::string& id_number) {
  Events e = recovered();
  if (!reported_ || *reported_ != id_number || gone_since_report_) {
    e.card = true;
    reported_ = id_number;
    gone_since_report_ = false;
  }
  present_ = true;
  return e;
}

CardTracker::Events CardTracker::no_card() {
  Events e = recovered();
  if (reported_) gone_since_report_ = true;
  present_ = false;
  return e;
}

CardTracker::Events CardTracker::error(const std::string& key) {
  Events e;
  e.error = !in_error_ || key != error_key_;
  in_error_ = true;
  error_key_ = key;
  present_ = false;
  return e;
}

// ---- The streams ----------------------------------------------------------------------------

EventHub::EventHub(net::io_context& ioc, Reads& reads, std::chrono::milliseconds poll_interval)
    : reads_(reads), poll_interval_(poll_interval), poll_timer_(ioc), heartbeat_timer_(ioc) {}

bool EventHub::admit() {
  if (stopped_ || admitted_ >= kMaxStreams) return false;
  ++admitted_;
  return true;
}

void EventHub::release() { --admitted_; }

void EventHub::subscribe(const std::shared_ptr<EventStream>& stream) {
  streams_.insert(stream);
  stream->send_event("retry: 2000\n\n");
  // A newcomer learns what the others already know: the card lying there, a reader in trouble.
  if (tracker_.card_present() && !last_card_event_.empty()) stream->send_event(last_card_event_);
  if (tracker_.in_error() && !last_error_event_.empty()) stream->send_event(last_error_event_);
  if (!poll_active_) schedule_poll(std::chrono::milliseconds(0));
}

void EventHub::unsubscribe(const std::shared_ptr<EventStream>& stream) {
  if (!streams_.erase(stream)) return;
  release();
  if (!streams_.empty()) return;
  // Nobody listens: this round of polling ends, and the next listener starts afresh.
  tracker_ = CardTracker();
  last_card_event_.clear();
  last_error_event_.clear();
  ++round_;
  poll_active_ = false;
  poll_timer_.cancel();
}

void EventHub::schedule_poll(std::chrono::milliseconds delay) {
  poll_active_ = true;
  poll_timer_.expires_after(delay);
  poll_timer_.async_wait([this, round = round_](beast::error_code ec) {
    if (round != round_) return;  // an earlier round's: the current one has its own
    if (ec || streams_.empty() || stopped_) {
      poll_active_ = false;
      return;
    }
    poll();
  });
}

void EventHub::poll() {
  const bool queued = reads_.submit(
      Reads::What::Card,
      [this, round = round_](ReadReply reply) {
        if (round == round_) deliver(reply);
      },
      Clock::time_point::max());
  if (!queued) schedule_poll(poll_interval_);  // the worker is swamped: try again later
}

void EventHub::deliver(const ReadReply& reply) {
  if (streams_.empty() || stopped_) {
    poll_active_ = false;
    return;
  }
  using Found = ReadReply::Found;
  if (reply.found != Found::Busy) {
    const CardTracker::Events e = reply.found == Found::Card     ? tracker_.card(reply.key)
                                  : reply.found == Found::NoCard ? tracker_.no_card()
                                                                 : tracker_.error(reply.key);
    if (e.ready) broadcast(sse("ready", R"({"reader":"ready"})"));
    if (e.card) broadcast(last_card_event_ = sse("card", reply.document));
    if (e.error) broadcast(last_error_event_ = sse("error", reply.document));
  }
  schedule_poll(poll_interval_);
}

void EventHub::broadcast(const std::string& event) {
  const auto listeners = streams_;  // a failed send closes its stream, changing the set
  for (const auto& s : listeners) s->send_event(event);
}

void EventHub::start_heartbeat() {
  heartbeat_timer_.expires_after(kHeartbeat);
  heartbeat_timer_.async_wait([this](beast::error_code ec) {
    if (ec || stopped_) return;
    broadcast(": keep-alive\n\n");
    start_heartbeat();
  });
}

void EventHub::stop() {
  stopped_ = true;
  poll_timer_.cancel();
  heartbeat_timer_.cancel();
  const auto listeners = streams_;
  for (const auto& s : listeners) s->close();
}

}  // namespace idcard
