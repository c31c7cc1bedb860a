#include "tools/service/events.h"

#include <vector>

#include "tools/card/schema.h"
#include "tools/service/session.h"
#include "tools/service/state.h"

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

struct EventHub::Outcome {
  enum Kind { Card, NoCard, Error } kind = Error;
  std::string id;
  std::string data;
};

EventHub::EventHub(Service::Impl& service)
    : service_(service), poll_timer_(service.ioc), heartbeat_timer_(service.ioc) {}

bool EventHub::admit() {
  if (admitted_ >= kMaxStreams) return false;
  ++admitted_;
  return true;
}

void EventHub::release() { --admitted_; }

void EventHub::subscribe(const std::shared_ptr<Session>& session) {
  streams_.insert(session);
  session->send_event("retry: 2000\n\n");
  // A newcomer learns what the others already know: the card lying there, a reader in trouble.
  if (tracker_.card_present() && !last_card_event_.empty()) session->send_event(last_card_event_);
  if (tracker_.in_error() && !last_error_event_.empty()) session->send_event(last_error_event_);
  if (!poll_active_) schedule_poll(std::chrono::milliseconds(0));
}

void EventHub::unsubscribe(const std::shared_ptr<Session>& session) {
  streams_.erase(session);
  release();
  if (!streams_.empty()) return;
  // Nobody listens: polling stops, and the next listener starts afresh.
  tracker_ = CardTracker();
  last_card_event_.clear();
  last_error_event_.clear();
  poll_timer_.cancel();
}

void EventHub::schedule_poll(std::chrono::milliseconds delay) {
  poll_active_ = true;
  poll_timer_.expires_after(delay);
  poll_timer_.async_wait([this](beast::error_code ec) {
    if (ec || streams_.empty() || service_.stopping) {
      poll_active_ = false;
      return;
    }
    poll();
  });
}

void EventHub::poll() {
  Service::Impl& s = service_;
  const bool queued = s.worker->submit(
      [this, &s](bool run) {
        if (!run) return;
        auto outcome = std::make_shared<Outcome>();
        Service::Impl::CallResult call = s.library_call(true);
        const ReadResult& r = call.read;
        if (r.ok) {
          const std::string* id = r.card.find("id_number");
          outcome->kind = Outcome::Card;
          outcome->id = id ? *id : std::string();
        } else if (r.error.kind == Failure::NoCard) {
          outcome->kind = Outcome::NoCard;
        } else {
          outcome->id = std::string(failure_name(r.error.kind)) + " " + r.error.call + " " +
                        std::to_string(r.error.code);
        }
        if (outcome->kind != Outcome::NoCard) outcome->data = std::move(call.document);
        net::post(s.ioc, [this, outcome] { deliver(*outcome); });
      },
      Clock::time_point::max());
  if (!queued) schedule_poll(s.options.poll_interval);  // the worker is swamped: try again later
}

void EventHub::deliver(const Outcome& outcome) {
  if (streams_.empty() || service_.stopping) {
    poll_active_ = false;
    return;
  }
  const CardTracker::Events e = outcome.kind == Outcome::Card     ? tracker_.card(outcome.id)
                                : outcome.kind == Outcome::NoCard ? tracker_.no_card()
                                                                  : tracker_.error(outcome.id);
  if (e.ready) broadcast(sse("ready", R"({"reader":"ready"})"));
  if (e.card) broadcast(last_card_event_ = sse("card", outcome.data));
  if (e.error) broadcast(last_error_event_ = sse("error", outcome.data));
  schedule_poll(service_.options.poll_interval);
}

void EventHub::broadcast(const std::string& event) {
  const auto listeners = streams_;  // a failed send closes its stream, changing the set
  for (const auto& s : listeners) s->send_event(event);
}

void EventHub::start_heartbeat() {
  heartbeat_timer_.expires_after(kHeartbeat);
  heartbeat_timer_.async_wait([this](beast::error_code ec) {
    if (ec) return;
    broadcast(": keep-alive\n\n");
    start_heartbeat();
  });
}

void EventHub::stop() {
  poll_timer_.cancel();
  heartbeat_timer_.cancel();
  const auto listeners = streams_;
  for (const auto& s : listeners) s->close();
}

}  // namespace idcard
