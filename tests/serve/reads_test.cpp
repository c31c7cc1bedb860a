// The service's reader calls and event polling against a scripted reader: how each way a reader
// process fails is answered, the wait before a new start after failed starts, and the event
// stream's polling as pages come and go.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <nlohmann/json.hpp>

#include "tools/cli/options.h"
#include "tools/service/events.h"
#include "tools/service/reads.h"

namespace {

using namespace std::chrono_literals;
using idcard::ReaderAnswer;
using idcard::ReaderFault;
using idcard::ReadReply;
using idcard::Reads;
using nlohmann::json;

ReaderAnswer card_answer(const std::string& id) {
  ReaderAnswer a;
  a.result.ok = true;
  a.result.card.fields = {{"name", "N"}, {"id_number", id}};
  return a;
}

ReaderAnswer fault_answer(ReaderFault fault, const std::string& step = "read",
                          const std::string& call = "ReadBaseInfo(1)") {
  ReaderAnswer a;
  a.fault = fault;
  a.step = step;
  a.call = call;
  a.message = "the reader process failed";
  return a;
}

// A reader that answers from a script (the last answer repeats), counting its calls; a call can
// be held until the test lets it go.
class ScriptedReader : public idcard::ReaderCalls {
 public:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<ReaderAnswer> script;
    std::atomic<int> calls{0};
    bool hold = false;
  };
  explicit ScriptedReader(std::shared_ptr<State> state) : state_(std::move(state)) {}

  ReaderAnswer start(std::chrono::milliseconds) override { return {}; }
  ReaderAnswer read(std::chrono::milliseconds) override { return next(); }
  ReaderAnswer check(std::chrono::milliseconds) override { return next(); }
  void stop() override {}

 private:
  ReaderAnswer next() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    ++state_->calls;
    state_->cv.wait(lock, [this] { return !state_->hold; });
    if (state_->script.empty()) return card_answer("1");
    ReaderAnswer a = state_->script.front();
    if (state_->script.size() > 1) state_->script.pop_front();
    return a;
  }
  std::shared_ptr<State> state_;
};

class ReadsTest : public ::testing::Test {
 protected:
  ReadsTest()
      : state_(std::make_shared<ScriptedReader::State>()),
        reads_(ioc_, "sdt", 1001, std::make_unique<ScriptedReader>(state_), 1s) {}

  void script(std::initializer_list<ReaderAnswer> answers) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->script = answers;
  }
  void hold(bool on) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->hold = on;
    }
    state_->cv.notify_all();
  }

  // One call through the queue, its answer taken on this (the network) thread.
  ReadReply call(Reads::What what = Reads::What::Card) {
    std::optional<ReadReply> reply;
    EXPECT_TRUE(reads_.submit(what, [&](ReadReply r) { reply = std::move(r); },
                              idcard::Clock::now() + 5s));
    ioc_.restart();
    while (!reply && ioc_.run_one_for(5s)) {
    }
    EXPECT_TRUE(reply) << "no answer";
    return reply.value_or(ReadReply{});
  }

  // Runs the network thread until `done` holds or `limit` passed.
  template <class Pred>
  bool run_until(Pred done, std::chrono::milliseconds limit = 3s) {
    const auto until = idcard::Clock::now() + limit;
    ioc_.restart();
    while (!done() && idcard::Clock::now() < until) ioc_.run_one_for(10ms);
    return done();
  }

  idcard::net::io_context ioc_{1};
  // The network thread waits for answers posted from the worker even when nothing else is queued.
  idcard::net::executor_work_guard<idcard::net::io_context::executor_type> work_{ioc_.get_executor()};
  std::shared_ptr<ScriptedReader::State> state_;
  Reads reads_;
};

// ---- How each failure of the reader process is answered ---------------------------------------

TEST_F(ReadsTest, EachFaultOfTheReaderProcessHasItsStatusAndKind) {
  struct Case {
    ReaderFault fault;
    unsigned status;
    const char* kind;
    bool retry_after;
  } cases[] = {
      {ReaderFault::Timeout, 504, "reader_timeout", false},
      {ReaderFault::Crashed, 502, "reader_crashed", false},
      {ReaderFault::NoReader, 503, "no_reader", true},
  };
  for (const Case& c : cases) {
    script({fault_answer(c.fault, "read", "ReadBaseInfo(1)")});
    const ReadReply r = call();
    EXPECT_EQ(static_cast<unsigned>(r.status), c.status) << c.kind;
    EXPECT_EQ(r.found, ReadReply::Found::Error) << c.kind;
    EXPECT_EQ(r.retry_after > 0, c.retry_after) << c.kind;
    // The shape of every error document, with no library result to give.
    const json doc = json::parse(r.document);
    ASSERT_TRUE(doc["error"].is_object()) << r.document;
    EXPECT_EQ(doc["error"]["kind"], c.kind);
    EXPECT_EQ(doc["error"]["step"], "read");
    EXPECT_EQ(doc["error"]["call"], "ReadBaseInfo(1)");
    EXPECT_TRUE(doc["error"]["code"].is_null());
    EXPECT_EQ(doc["error"]["message"], "the reader process failed");
  }
}

TEST_F(ReadsTest, AReadsOwnResultKeepsItsStatus) {
  ReaderAnswer no_card;
  no_card.result.error = {idcard::Failure::NoCard, "select", "SelectCard()", 0, "no card"};
  ReaderAnswer failed;
  failed.result.error = {idcard::Failure::ReadFailed, "read", "ReadBaseInfo(1)", -8, "x"};
  script({no_card, failed, card_answer("44010619880808107X")});
  ReadReply r = call();
  EXPECT_EQ(r.status, idcard::http::status::not_found);
  EXPECT_EQ(r.found, ReadReply::Found::NoCard);
  r = call();
  EXPECT_EQ(r.status, idcard::http::status::bad_gateway);
  EXPECT_EQ(json::parse(r.document)["error"]["code"], -8);
  r = call();
  EXPECT_EQ(r.status, idcard::http::status::ok);
  EXPECT_EQ(r.found, ReadReply::Found::Card);
  EXPECT_EQ(r.key, "44010619880808107X");
  EXPECT_EQ(json::parse(r.document)["card"]["id_number"], "44010619880808107X");
  r = call(Reads::What::Reader);
  EXPECT_EQ(json::parse(r.document)["reader"], "ready");
}

// A reader process that cannot start is not started again before a wait that grows with each
// failed start; meanwhile every call is answered at once, saying how long to wait.
TEST_F(ReadsTest, FailedStartsWaitLongerEachTime) {
  script({fault_answer(ReaderFault::NoReader, "start", "")});
  ReadReply r = call();
  EXPECT_EQ(static_cast<unsigned>(r.status), 503u);
  EXPECT_EQ(r.retry_after, 1);
  EXPECT_EQ(state_->calls, 1);

  r = call();
  EXPECT_EQ(state_->calls, 1) << "no new start within the wait";
  EXPECT_EQ(static_cast<unsigned>(r.status), 503u);
  EXPECT_EQ(json::parse(r.document)["error"]["kind"], "no_reader");
  EXPECT_EQ(r.retry_after, 1);

  std::this_thread::sleep_for(1100ms);
  r = call();
  EXPECT_EQ(state_->calls, 2);
  EXPECT_EQ(r.retry_after, 2) << "the wait doubles";
  EXPECT_EQ(call().retry_after, 2);
  EXPECT_EQ(state_->calls, 2);

  // Once the reader starts again, the waits start afresh.
  script({card_answer("1"), fault_answer(ReaderFault::NoReader, "start", "")});
  std::this_thread::sleep_for(2100ms);
  EXPECT_EQ(call().status, idcard::http::status::ok);
  EXPECT_EQ(call().retry_after, 1);
}

TEST_F(ReadsTest, ACallThatWaitedTooLongIsAnsweredBusy) {
  hold(true);
  std::optional<ReadReply> first, late;
  ASSERT_TRUE(reads_.submit(Reads::What::Card, [&](ReadReply r) { first = r; },
                            idcard::Clock::now() + 5s));
  ASSERT_TRUE(reads_.submit(Reads::What::Card, [&](ReadReply r) { late = r; },
                            idcard::Clock::now() + 50ms));
  std::this_thread::sleep_for(150ms);
  hold(false);
  ASSERT_TRUE(run_until([&] { return first && late; }));
  EXPECT_EQ(first->status, idcard::http::status::ok);
  EXPECT_EQ(late->found, ReadReply::Found::Busy);
  EXPECT_EQ(json::parse(late->document)["error"]["kind"], "busy");
  EXPECT_EQ(state_->calls, 1) << "the late call never reached the reader";
}

// ---- The event stream's polling -----------------------------------------------------------------

class FakeStream : public idcard::EventStream {
 public:
  void send_event(const std::string& text) override { events.push_back(text); }
  void close() override { closed = true; }
  int count(const std::string& type) const {
    int n = 0;
    for (const std::string& e : events) n += e.rfind("event: " + type + "\n", 0) == 0;
    return n;
  }
  std::vector<std::string> events;
  bool closed = false;
};

class HubTest : public ReadsTest {
 protected:
  void subscribe(const std::shared_ptr<FakeStream>& s) {
    ASSERT_TRUE(hub_.admit());
    hub_.subscribe(s);
  }
  idcard::EventHub hub_{ioc_, reads_, 20ms};
};

// The last page leaves while the next poll is only scheduled, and a new one subscribes before the
// cancelled timer's handler ran (a page reload): the new page is still served.
TEST_F(HubTest, PollingGoesOnForAPageThatCameRightAfterTheLastLeft) {
  auto first = std::make_shared<FakeStream>();
  subscribe(first);
  ASSERT_TRUE(run_until([&] { return first->count("card") == 1; }));
  // The answer just delivered scheduled the next poll; no handler ran since.
  hub_.unsubscribe(first);
  auto second = std::make_shared<FakeStream>();
  subscribe(second);
  EXPECT_TRUE(run_until([&] { return second->count("card") == 1; }))
      << "the newcomer never got the card: polling stopped";
  const int calls = state_->calls;
  run_until([] { return false; }, 200ms);
  EXPECT_GT(state_->calls, calls + 2) << "polling stopped";
  hub_.stop();
}

// The same while a poll runs on the reader: its answer belongs to the round that ended and is
// dropped; the newcomer's own round polls.
TEST_F(HubTest, AnAnswerOfAnEndedRoundIsDropped) {
  script({card_answer("A")});
  auto first = std::make_shared<FakeStream>();
  hold(true);
  subscribe(first);
  ASSERT_TRUE(run_until([&] { return state_->calls == 1; }));
  hub_.unsubscribe(first);
  auto second = std::make_shared<FakeStream>();
  subscribe(second);
  script({card_answer("B")});
  hold(false);
  ASSERT_TRUE(run_until([&] { return second->count("card") >= 1; }));
  run_until([] { return false; }, 200ms);
  EXPECT_EQ(first->count("card"), 0);
  ASSERT_EQ(second->count("card"), 1) << "each card once";
  EXPECT_NE(second->events[1].find("\"B\""), std::string::npos) << second->events[1];
  hub_.stop();
}

// A reader process that hangs or crashes is an error event, once; polling goes on and the card
// is reported when the reader answers again.
TEST_F(HubTest, ReaderProcessFaultsAreErrorEventsAndPollingGoesOn) {
  script({fault_answer(ReaderFault::Timeout), fault_answer(ReaderFault::Timeout),
          fault_answer(ReaderFault::Crashed), card_answer("A")});
  auto page = std::make_shared<FakeStream>();
  subscribe(page);
  ASSERT_TRUE(run_until([&] { return page->count("card") == 1; }));
  ASSERT_EQ(page->count("error"), 2) << "one for the timeout, repeated; one for the crash";
  EXPECT_NE(page->events[1].find("reader_timeout"), std::string::npos);
  EXPECT_NE(page->events[2].find("reader_crashed"), std::string::npos);
  EXPECT_EQ(page->count("ready"), 1);
  hub_.stop();
  EXPECT_TRUE(page->closed);
}

// ---- The option ---------------------------------------------------------------------------------

TEST(ReaderTimeoutOption, SetBySecondsOnTheCommandLineForServeOnly) {
  struct Case {
    std::vector<std::string> args;
    int exit;
    long long millis;  // when it runs
  } cases[] = {
      {{"serve"}, -1, 5000},
      {{"serve", "--reader-timeout", "1"}, -1, 1000},
      {{"serve", "--reader-timeout", "600"}, -1, 600000},
      {{"service", "run", "--reader-timeout", "12"}, -1, 12000},
      {{"serve", "--reader-timeout", "0"}, 2, 0},
      {{"serve", "--reader-timeout", "601"}, 2, 0},
      {{"serve", "--reader-timeout", "1.5"}, 2, 0},
      {{"serve", "--reader-timeout"}, 2, 0},
      {{"--reader-timeout", "3"}, 2, 0},  // a one-shot read has no such option
  };
  for (const Case& c : cases) {
    const idcard::ParsedOptions p = idcard::parse_arguments(c.args);
    EXPECT_EQ(p.exit, c.exit) << c.args.back() << ": " << p.text;
    if (p.exit == -1) {
      EXPECT_EQ(p.options.service.reader_timeout.count(), c.millis);
    }
  }
}

}  // namespace
