// idcard serve in-process against the simulated reader: the card schema of every edition, the
// failure statuses, the event stream's rules, one caller at a time under load, and requests that
// are refused without reading anything.
#include "tools/service/service.h"

// <utility> before Asio, whose coroutine header uses std::exchange without including it.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "simulator/simulator.h"
#include "tests/support/testbed_gtest.h"
#include "tests/serve/library_calls.h"

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char kIdNumber[] = "44010619880808107X";

// ---- The simulated reader, scripted from the worker thread --------------------------------------

struct Call {
  SimCall call;
  std::thread::id thread;
};
std::mutex journal_mutex;
std::vector<Call> journal;

void WINAPI record(const SimCall* call) {
  std::lock_guard<std::mutex> lock(journal_mutex);
  journal.push_back({*call, std::this_thread::get_id()});
}

std::vector<Call> take_journal() {
  std::lock_guard<std::mutex> lock(journal_mutex);
  return std::exchange(journal, {});
}

template <class Fn>
Fn sim_fn(int library, const char* name) {
  static plat::Module modules[SIM_LIB_COUNT] = {};
  if (!modules[library])
    modules[library] = plat::load_library(testbed::simulator_path(library).c_str());
  auto f = reinterpret_cast<Fn>(plat::entry_point(modules[library], name));
  if (!f) ADD_FAILURE() << name << " missing";
  return f;
}

using SetFn = void(WINAPI*)(int);

// ---- A small HTTP client -----------------------------------------------------------------------

struct Reply {
  int status = 0;
  std::map<std::string, std::string> headers;
  std::string body;
  json doc() const { return json::parse(body, nullptr, false); }
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// One GET on a fresh connection; `headers` replace the default Host.
Reply get(int port, const std::string& target, const Headers& headers = {}) {
  net::io_context ioc;
  beast::tcp_stream stream(ioc);
  stream.connect(
      tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
  http::request<http::empty_body> req{http::verb::get, target, 11};
  req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  for (const auto& [name, value] : headers) req.set(name, value);
  http::write(stream, req);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(stream, buffer, res);
  Reply r;
  r.status = res.result_int();
  for (const auto& f : res) r.headers[std::string(f.name_string())] = std::string(f.value());
  r.body = res.body();
  return r;
}

struct Event {
  std::string type;
  std::string data;
};

// A client of the event stream, reading with deadlines.
class EventClient {
 public:
  EventClient(int port, const Headers& headers = {}) : socket_(ioc_) {
    socket_.connect(
        tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    std::string req = "GET /api/v1/events HTTP/1.1\r\n";
    bool host = false;
    for (const auto& [name, value] : headers) {
      req += name + ": " + value + "\r\n";
      host = host || name == "Host";
    }
    if (!host) req += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    net::write(socket_, net::buffer(req + "\r\n"));
    while (text_.find("\r\n\r\n") == std::string::npos && read_some(5s)) {
    }
    const std::size_t end = text_.find("\r\n\r\n");
    head_ = text_.substr(0, end);
    text_ = end == std::string::npos ? std::string() : text_.substr(end + 4);
  }

  const std::string& head() const { return head_; }

  // The next event within `timeout`; comments and the retry field are skipped.
  std::optional<Event> next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      for (std::size_t end; (end = text_.find("\n\n")) != std::string::npos;) {
        const std::string block = text_.substr(0, end + 1);
        text_.erase(0, end + 2);
        Event e;
        for (std::size_t at = 0; at < block.size();) {
          const std::size_t nl = block.find('\n', at);
          const std::string line = block.substr(at, nl - at);
          at = nl + 1;
          if (line.rfind("event: ", 0) == 0) e.type = line.substr(7);
          if (line.rfind("data: ", 0) == 0) e.data = line.substr(6);
        }
        if (!e.type.empty()) return e;
      }
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= 0s || !read_some(std::chrono::duration_cast<std::chrono::milliseconds>(left)))
        return std::nullopt;
    }
  }

  // Every event within `period`.
  std::vector<Event> collect(std::chrono::milliseconds period) {
    std::vector<Event> events;
    const auto deadline = std::chrono::steady_clock::now() + period;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) return events;
      if (auto e = next(left)) events.push_back(*e);
    }
  }

 private:
  // Reads what arrives within `timeout`; false when nothing did (the connection stays open).
  bool read_some(std::chrono::milliseconds timeout) {
    char buf[4096];
    bool got = false, done = false;
    net::steady_timer timer(ioc_, timeout);
    socket_.async_read_some(net::buffer(buf), [&](beast::error_code ec, std::size_t n) {
      done = true;
      if (!ec) text_.append(buf, n);
      got = !ec;
      timer.cancel();
    });
    timer.async_wait([&](beast::error_code ec) {
      if (!ec && !done) socket_.cancel();
    });
    ioc_.restart();
    ioc_.run();
    return got;
  }

  net::io_context ioc_;
  tcp::socket socket_;
  std::string text_;
  std::string head_;
};

// Events of one type among `events`.
std::vector<Event> of_type(const std::vector<Event>& events, const std::string& type) {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (e.type == type) out.push_back(e);
  }
  return out;
}

// ---- The service under test ---------------------------------------------------------------------

class ServeTest : public ::testing::Test {
 protected:
  void start(const std::string& edition = "sdt", idcard::ServeOptions options = {}) {
    idcard::ReaderOptions reader;
    ASSERT_TRUE(idcard::set_edition(reader, edition));
    reader.root = testbed::build_path("");
    options.listen = "127.0.0.1:0";
    options.quiet = true;
    options.poll_interval = 40ms;
    // The edition in this process, so that the test scripts the simulator the edition calls.
    service_ = std::make_unique<idcard::Service>(reader, options,
                                                 std::make_unique<idcard::LibraryCalls>(reader));
    std::string error;
    ASSERT_TRUE(service_->start(&error)) << error;
    port_ = service_->port();
    thread_ = std::thread([this] { service_->run(); });
    // The simulator out of the box, recording every call.
    on_worker([] {
      for (int lib = 0; lib < SIM_LIB_COUNT; ++lib) {
        sim_fn<void(WINAPI*)()>(lib, "Sim_Reset")();
        sim_fn<void(WINAPI*)(SimSink)>(lib, "Sim_SetJournalSink")(&record);
      }
    });
    take_journal();
  }

  void TearDown() override {
    if (!service_) return;
    service_->stop();
    thread_.join();
    on_worker([] {
      for (int lib = 0; lib < SIM_LIB_COUNT; ++lib)
        sim_fn<void(WINAPI*)(SimSink)>(lib, "Sim_SetJournalSink")(nullptr);
    });
    service_.reset();
  }

  void on_worker(const std::function<void()>& fn) { service_->on_worker(fn); }
  void card_on_reader(bool on) {
    on_worker([on] { sim_fn<SetFn>(SIM_LIB_SDTAPI, "Sim_SetCardOnReader")(on); });
  }
  void set_status(int entry, int status) {
    on_worker([=] {
      sim_fn<void(WINAPI*)(int, int, int)>(SIM_LIB_SDTAPI, "Sim_SetStatus")(entry, SIM_ANY_PORT,
                                                                            status);
    });
  }
  void load_profile(const std::string& text) {
    const std::string path = testbed::output_folder() + "serve-profile.json";
    ASSERT_TRUE(testbed::write_file(path, testbed::bytes(text)));
    on_worker([&] {
      char error[256] = {};
      EXPECT_EQ(sim_fn<int(WINAPI*)(const char*, char*, int)>(SIM_LIB_SDTAPI, "Sim_LoadProfile")(
                    path.c_str(), error, sizeof error),
                1)
          << error;
    });
  }

  std::unique_ptr<idcard::Service> service_;
  std::thread thread_;
  int port_ = 0;
};

// ---- The card -----------------------------------------------------------------------------------

class CardOfEdition : public ServeTest, public ::testing::WithParamInterface<const char*> {};

// Whatever edition reads it, the sample card gives the same document (bar the edition's own texts).
TEST_P(CardOfEdition, HasTheCommonSchema) {
  start(GetParam());
  const Reply r = get(port_, "/api/v1/card");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.header("Cache-Control"), "no-store");
  EXPECT_EQ(r.header("Content-Type"), "application/json; charset=utf-8");
  const json doc = r.doc();
  EXPECT_EQ(doc["edition"], GetParam());
  const json& card = doc["card"];
  EXPECT_EQ(card["name"], "陈志远");
  EXPECT_EQ(card["sex"], "男");
  EXPECT_EQ(card["sex_code"], 1);
  EXPECT_EQ(card["nation"], "汉");
  EXPECT_EQ(card["nation_code"], 1);
  EXPECT_EQ(card["birth"], "1988-08-08");
  EXPECT_EQ(card["id_number"], kIdNumber);
  EXPECT_EQ(card["authority"], "广州市公安局天河分局");
  EXPECT_EQ(card["valid_from"], "2015-01-01");
  EXPECT_EQ(card["valid_to"], "2035-01-01");
  EXPECT_EQ(card["address"],
            "广东省广州市天河区云杉东路一百六十八号锦华花园七栋二单元五零三房");
  // The QDX edition's full read leaves the appended address out.
  EXPECT_EQ(card["appended_address"], std::string(GetParam()) == "qdx"
                                          ? json(nullptr)
                                          : json("广东省广州市海珠区榕荫南路二十二号"));
  const json& photo = doc["photo"];
  EXPECT_EQ(photo["media_type"], "image/bmp");
  EXPECT_EQ(photo["width"], 102);
  EXPECT_EQ(photo["height"], 126);
  ASSERT_TRUE(photo["base64"].is_string());
  EXPECT_EQ(photo["base64"].get<std::string>().rfind("Qk", 0), 0u) << "base64 of \"BM\"";
  EXPECT_EQ(photo["base64"].get<std::string>().size(),
            (photo["size"].get<std::size_t>() + 2) / 3 * 4);
  EXPECT_TRUE(doc["edition_texts"].is_object());
  EXPECT_EQ(doc["edition_texts"]["id_number"], kIdNumber);
}

INSTANTIATE_TEST_SUITE_P(Editions, CardOfEdition, ::testing::Values("qdx", "sdt", "vantrel"));

// Whatever edition reads it, a validity end that is no date stands as the card has it.
TEST_P(CardOfEdition, LongTermValidityStaysAsItStands) {
  start(GetParam());
  load_profile(R"({"valid_to": "长期"})");
  const json doc = get(port_, "/api/v1/card").doc();
  EXPECT_EQ(doc["card"]["valid_to"], "长期");
  EXPECT_EQ(doc["card"]["valid_from"], "2015-01-01");
}

struct FailureCase {
  const char* name;
  int entry;   // the entry point made to fail
  int status;  // with this driver status
  int http;
  const char* kind;
  const char* step;
};

class ReadFailure : public ServeTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ReadFailure, NamesTheStepAndTheLibrarysResult) {
  start("sdt");
  const FailureCase& c = GetParam();
  if (c.entry == SIM_GET_BMP) {
    on_worker([] { sim_fn<SetFn>(SIM_LIB_WLTRS, "Sim_SetDecoderResult")(-3); });
  } else {
    set_status(c.entry, c.status);
  }
  const Reply r = get(port_, "/api/v1/card");
  EXPECT_EQ(r.status, c.http) << r.body;
  const json doc = r.doc();
  EXPECT_EQ(doc["error"]["kind"], c.kind);
  EXPECT_EQ(doc["error"]["step"], c.step);
  EXPECT_TRUE(doc["error"]["code"].is_number_integer());
  EXPECT_FALSE(doc["error"]["message"].get<std::string>().empty());
  EXPECT_EQ(r.body.find(kIdNumber), std::string::npos);

  // The port was closed again: once the fault is gone, the next read succeeds.
  on_worker([] { sim_fn<SetFn>(SIM_LIB_WLTRS, "Sim_SetDecoderResult")(1); });
  if (c.entry != SIM_GET_BMP) set_status(c.entry, SIM_NO_STATUS);
  EXPECT_EQ(get(port_, "/api/v1/card").status, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReadFailure,
    ::testing::Values(FailureCase{"no_reader", SIM_OPEN_PORT, 1, 503, "no_reader", "open"},
                      FailureCase{"no_card", SIM_START_FIND_ID_CARD, 0x80, 404, "no_card",
                                  "select"},
                      FailureCase{"decoder", SIM_GET_BMP, 0, 502, "read_failed", "read"},
                      FailureCase{"read", SIM_READ_BASE_MSG, 0x41, 502, "read_failed", "read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServeTest, ReaderAnswersWithoutReadingACard) {
  start("qdx");
  const Reply r = get(port_, "/api/v1/reader");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.doc()["reader"], "ready");
  for (const Call& c : take_journal()) {
    EXPECT_NE(c.call.entry, SIM_READ_BASE_MSG);
    EXPECT_NE(c.call.entry, SIM_START_FIND_ID_CARD);
  }
  set_status(SIM_OPEN_PORT, 1);
  EXPECT_EQ(get(port_, "/api/v1/reader").status, 503);
}

// ---- Refused options -----------------------------------------------------------------------------

// A service given what the option parser refuses refuses it too, in the parser's words, before it
// listens or starts its reader.
TEST(ServeStart, RefusesWhatTheOptionsRefuseInTheirWords) {
  struct Case {
    const char* listen;
    std::vector<std::string> origins, hosts;
    const char* error;
  } const cases[] = {
      {"127.0.0.1", {}, {},
       "bad listen address '127.0.0.1' (HOST:PORT, an IP address or localhost and a port 0 to "
       "65535)"},
      {"127.0.0.1:0", {"http://*.example"}, {},
       "bad origin 'http://*.example' (scheme://host[:port], no wildcard, no path)"},
      {"127.0.0.1:0", {}, {"desk:8089"},
       "bad host name 'desk:8089' (a host name or address, no port, no wildcard)"},
      {"0.0.0.0:0", {}, {},
       "0.0.0.0 is not a loopback address: add --allow-non-loopback to listen there"},
  };
  for (const Case& c : cases) {
    idcard::ReaderOptions reader;
    ASSERT_TRUE(idcard::set_edition(reader, "sdt"));
    reader.root = testbed::build_path("");
    idcard::ServeOptions options;
    options.listen = c.listen;
    options.allowed_origins = c.origins;
    options.allowed_hosts = c.hosts;
    options.quiet = true;
    idcard::Service service(reader, options, std::make_unique<idcard::LibraryCalls>(reader));
    std::string error;
    EXPECT_FALSE(service.start(&error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

// ---- Refused requests read nothing --------------------------------------------------------------

TEST_F(ServeTest, RefusedCallersReadNothing) {
  idcard::ServeOptions options;
  options.allowed_origins = {"http://localhost:3000"};
  start("sdt", options);
  const Headers refused[] = {
      {{"Origin", "http://evil.example"}},
      {{"Origin", "null"}},
      {{"Origin", "http://localhost:3000.evil.example"}},
      {{"Host", "evil.example:" + std::to_string(port_)}},
      {{"Host", "127.0.0.1:1"}},
      {{"Sec-Fetch-Site", "cross-site"}},  // an image or a link on another site
      {{"Sec-Fetch-Site", "same-site"}},
  };
  for (const Headers& h : refused) {
    EXPECT_EQ(get(port_, "/api/v1/card", h).status, 403) << h[0].second;
    EventClient events(port_, h);
    EXPECT_NE(events.head().find(" 403 "), std::string::npos) << events.head();
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(take_journal().empty()) << "a refused request reached the library";

  const Reply allowed = get(port_, "/api/v1/card", {{"Origin", "http://localhost:3000"}});
  EXPECT_EQ(allowed.status, 200);
  EXPECT_EQ(allowed.header("Access-Control-Allow-Origin"), "http://localhost:3000");
  EXPECT_FALSE(take_journal().empty());
}

// ---- Events -------------------------------------------------------------------------------------

// The same rules on a reader that finds a card that was read while it lies there, and on one that
// finds it only after it was taken off.
class Events : public ServeTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    start("sdt");
    const bool hides = GetParam();
    on_worker([hides] { sim_fn<SetFn>(SIM_LIB_SDTAPI, "Sim_SetHidesReadCard")(hides); });
  }
};

TEST_P(Events, ACardIsReportedOnceUntilItIsTakenOff) {
  EventClient events(port_);
  ASSERT_NE(events.head().find(" 200 "), std::string::npos);
  EXPECT_NE(events.head().find("text/event-stream"), std::string::npos);
  const auto first = events.next(3s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->type, "card");
  EXPECT_EQ(json::parse(first->data)["card"]["id_number"], kIdNumber);
  EXPECT_TRUE(of_type(events.collect(500ms), "card").empty()) << "the card lay there all along";

  card_on_reader(false);
  EXPECT_TRUE(of_type(events.collect(300ms), "card").empty());
  card_on_reader(true);
  const auto again = events.next(3s);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->type, "card") << "put back, it is reported again";
  EXPECT_TRUE(of_type(events.collect(400ms), "card").empty());
}

TEST_P(Events, AnotherCardIsReportedAtOnce) {
  EventClient events(port_);
  ASSERT_TRUE(events.next(3s));
  load_profile(R"({"name": "李明", "id_number": "510107199511204421"})");
  const auto next = events.next(3s);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->type, "card");
  EXPECT_EQ(json::parse(next->data)["card"]["id_number"], "510107199511204421");
}

TEST_P(Events, ReaderErrorsAreReportedOnceAndTheStreamRecovers) {
  EventClient events(port_);
  ASSERT_EQ(events.next(3s)->type, "card");
  set_status(SIM_OPEN_PORT, 1);  // the reader is unplugged
  const auto error = events.next(3s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->type, "error");
  EXPECT_EQ(json::parse(error->data)["error"]["kind"], "no_reader");
  EXPECT_TRUE(events.collect(300ms).empty()) << "the same error is not repeated";

  set_status(SIM_OPEN_PORT, SIM_NO_STATUS);
  const auto ready = events.next(3s);
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->type, "ready");
  card_on_reader(false);
  events.collect(200ms);
  card_on_reader(true);
  const auto card = events.next(3s);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->type, "card");
}

INSTANTIATE_TEST_SUITE_P(Readers, Events, ::testing::Values(false, true), [](const auto& info) {
  return std::string(info.param ? "HidesReadCard" : "FindsReadCard");
});

TEST_F(ServeTest, PollsOnlyWhileSomebodyListens) {
  start("sdt");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(take_journal().empty()) << "nobody listens yet";
  {
    EventClient first(port_), second(port_);
    ASSERT_TRUE(first.next(3s));
    const auto late = second.next(3s);
    ASSERT_TRUE(late) << "a newcomer learns of the card that lies there";
    EXPECT_EQ(late->type, "card");
    EXPECT_FALSE(take_journal().empty());
  }
  std::this_thread::sleep_for(300ms);  // both went away; a poll may still have been running
  take_journal();
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(take_journal().empty()) << "polling goes on with nobody listening";
}

// While the worker is held up, requests queue up to a bound; beyond it they are refused at once as
// busy, and the queued ones are answered once the worker is free again.
TEST_F(ServeTest, QueuedRequestsAreBoundedAndTheRestRefusedAsBusy) {
  start("sdt");
  constexpr int kQueueBound = 32, kExtra = 6;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::thread blocker([&] { on_worker([released] { released.wait(); }); });
  std::this_thread::sleep_for(100ms);  // the worker is inside the blocking job

  std::vector<Reply> replies(kQueueBound + kExtra);
  std::vector<std::thread> clients;
  for (std::size_t i = 0; i < replies.size(); ++i)
    clients.emplace_back([&, i] { replies[i] = get(port_, "/api/v1/card"); });
  std::this_thread::sleep_for(1s);  // every request has arrived and waits or was refused
  release.set_value();
  for (std::thread& t : clients) t.join();
  blocker.join();

  int ok = 0, busy = 0;
  for (const Reply& r : replies) {
    if (r.status == 200) ++ok;
    if (r.status == 503 && r.doc()["error"]["kind"] == "busy" && r.header("Retry-After") == "1")
      ++busy;
  }
  EXPECT_EQ(ok, kQueueBound);
  EXPECT_EQ(busy, kExtra);
}

// ---- Load ---------------------------------------------------------------------------------------

// The calls of one request, as (library, entry, result) triples.
using Cycle = std::vector<std::array<int, 3>>;

Cycle cycle_of(const std::vector<Call>& calls, std::size_t from, std::size_t to) {
  Cycle c;
  for (std::size_t i = from; i < to; ++i)
    c.push_back({calls[i].call.library, calls[i].call.entry, calls[i].call.result});
  return c;
}

TEST_F(ServeTest, ConcurrentClientsNeverInterleaveLibraryCalls) {
  start("sdt");
  ASSERT_EQ(get(port_, "/api/v1/card").status, 200);
  const std::vector<Call> card_calls = take_journal();
  ASSERT_EQ(get(port_, "/api/v1/reader").status, 200);
  const std::vector<Call> reader_calls = take_journal();
  const Cycle card = cycle_of(card_calls, 0, card_calls.size());
  const Cycle reader = cycle_of(reader_calls, 0, reader_calls.size());
  ASSERT_FALSE(card.empty());
  ASSERT_FALSE(reader.empty());

  constexpr int kClients = 24;
  std::atomic<int> ok{0}, busy{0}, other{0};
  std::vector<std::thread> clients;
  const auto until = std::chrono::steady_clock::now() + 2s;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      while (std::chrono::steady_clock::now() < until) {
        const Reply r = get(port_, i % 3 ? "/api/v1/card" : "/api/v1/reader");
        const bool refused = r.status == 503 && r.doc()["error"]["kind"] == "busy" &&
                             r.header("Retry-After") == "1";
        (r.status == 200 ? ok : refused ? busy : other)++;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_GT(ok.load(), kClients);
  EXPECT_EQ(other.load(), 0) << "every request is answered or refused as busy";

  // The journal is whole cycles one after another, all made on one thread.
  const std::vector<Call> calls = take_journal();
  ASSERT_FALSE(calls.empty());
  std::size_t at = 0, cycles = 0;
  while (at < calls.size()) {
    bool matched = false;
    for (const Cycle* c : {&card, &reader}) {
      if (at + c->size() <= calls.size() && cycle_of(calls, at, at + c->size()) == *c) {
        at += c->size();
        matched = true;
        break;
      }
    }
    ASSERT_TRUE(matched) << "calls interleaved at journal entry " << at;
    ++cycles;
  }
  EXPECT_EQ(cycles, static_cast<std::size_t>(ok.load()));
  for (const Call& c : calls) ASSERT_EQ(c.thread, calls.front().thread);
}

}  // namespace
