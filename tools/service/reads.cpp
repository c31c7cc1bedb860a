#include "tools/service/reads.h"

#include <algorithm>
#include <future>

#include "tools/card/schema.h"

namespace idcard {

namespace {

// The service's own answer when the reader process failed around the call: a status and a kind
// for each way it can fail.
struct FaultAnswer {
  ReaderFault fault;
  http::status status;
  const char* kind;
};
constexpr FaultAnswer kFaultAnswers[] = {
    {ReaderFault::Timeout, http::status::gateway_timeout, "reader_timeout"},
    {ReaderFault::Crashed, http::status::bad_gateway, "reader_crashed"},
    {ReaderFault::NoReader, http::status::service_unavailable, "no_reader"},
};

const FaultAnswer& fault_answer(ReaderFault fault) {
  for (const FaultAnswer& f : kFaultAnswers) {
    if (f.fault == fault) return f;
  }
  return kFaultAnswers[1];  // not reached: every fault but None is listed
}

int whole_seconds(Clock::duration d) {
  const auto s = std::chrono::ceil<std::chrono::seconds>(d).count();
  return s < 1 ? 1 : static_cast<int>(s);
}

}  // namespace

Reads::Reads(net::io_context& ioc, std::string edition_name, int port,
             std::unique_ptr<ReaderCalls> reader, std::chrono::milliseconds timeout)
    : ioc_(ioc),
      edition_name_(std::move(edition_name)),
      port_(port),
      timeout_(timeout),
      reader_(std::move(reader)),
      worker_(std::make_unique<Worker>()) {}

Reads::~Reads() { finish(); }

bool Reads::start(std::string* error, ReaderAnswer* started) {
  std::promise<ReaderAnswer> answer;
  worker_->submit([this, &answer](bool) { answer.set_value(reader_->start(timeout_)); },
                  Clock::time_point::max());
  const ReaderAnswer a = answer.get_future().get();
  *error = a.fault == ReaderFault::None ? std::string() : a.message;
  if (started) *started = a;
  return error->empty();
}

ReadReply Reads::busy() {
  ReadReply r;
  r.status = http::status::service_unavailable;
  r.document = dump({{"error", {{"kind", "busy"}, {"message", "the reader is busy; try again"}}}});
  r.retry_after = kRetryAfterSeconds;
  r.found = ReadReply::Found::Busy;
  return r;
}

bool Reads::submit(What what, Done done, Clock::time_point wait_until) {
  return worker_->submit(
      [this, what, done = std::move(done)](bool run) {
        auto reply = std::make_shared<ReadReply>(run ? call(what) : busy());
        net::post(ioc_, [done, reply] { done(std::move(*reply)); });
      },
      wait_until);
}

ReadReply Reads::call(What what) {
  const Clock::time_point now = Clock::now();
  if (now < next_start_) {
    // The last start failed: no new try before its wait is over.
    ReadReply r;
    r.status = http::status::service_unavailable;
    r.document = no_reader_;
    r.retry_after = whole_seconds(next_start_ - now);
    r.key = "no_reader";
    return r;
  }
  // One deadline for the whole call, a new reader process's start included.
  ReaderAnswer a = what == What::Card ? reader_->read(timeout_) : reader_->check(timeout_);
  if (a.fault == ReaderFault::NoReader) {
    restart_wait_ = restart_wait_.count() == 0
                        ? std::chrono::milliseconds(kFirstRestartWait)
                        : std::min(restart_wait_ * 2, std::chrono::milliseconds(kLastRestartWait));
    next_start_ = Clock::now() + restart_wait_;
  } else {
    restart_wait_ = std::chrono::milliseconds(0);
    next_start_ = {};
  }
  return answer_of(what, std::move(a));
}

ReadReply Reads::answer_of(What what, ReaderAnswer a) {
  ReadReply r;
  if (a.fault != ReaderFault::None) {
    const FaultAnswer& f = fault_answer(a.fault);
    if (a.fault == ReaderFault::NoReader && a.step.empty()) a.step = "start";
    r.status = f.status;
    r.document = dump(error_json(f.kind, a.step, a.call, a.message));
    r.key = std::string(f.kind) + " " + a.step + " " + a.call;
    if (a.fault == ReaderFault::NoReader) {
      no_reader_ = r.document;
      r.retry_after = whole_seconds(restart_wait_);
    }
    return r;
  }
  const ReadResult& read = a.result;
  if (!read.ok) {
    r.status = status_of(read.error.kind);
    r.document = dump(error_json(read.error));
    r.found = read.error.kind == Failure::NoCard ? ReadReply::Found::NoCard : ReadReply::Found::Error;
    r.key = std::string(failure_name(read.error.kind)) + " " + read.error.call + " " +
            std::to_string(read.error.code);
    return r;
  }
  if (what == What::Reader) {
    r.document = dump({{"edition", edition_name_}, {"port", port_}, {"reader", "ready"}});
    return r;
  }
  r.document = dump(card_json(edition_name_, read.card, a.photo));
  r.found = ReadReply::Found::Card;
  const std::string* id = read.card.find("id_number");
  r.key = id ? *id : std::string();
  return r;
}

void Reads::on_worker(const std::function<void()>& fn) {
  std::promise<void> done;
  const bool queued = worker_->submit(
      [&](bool) {
        fn();
        done.set_value();
      },
      Clock::time_point::max());
  if (queued) done.get_future().wait();
}

void Reads::end_reader() {
  on_worker([this] { reader_->stop(); });
}

void Reads::finish() {
  if (worker_) worker_->stop([this] { reader_->stop(); });
}

}  // namespace idcard
