// The local web service. Network I/O runs on one thread (Boost.Asio and Boost.Beast: the HTTP
// parsing and serialising are theirs); every library call runs on one worker thread, in the order
// submitted, and hands its result back to the network thread.
#include "tools/serve.h"

// <utility> before Asio, whose coroutine header uses std::exchange without including it.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "tools/card_json.h"

namespace idcard {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// Limits on what a client may send and how long it may take.
constexpr std::size_t kHeaderLimit = 8192;               // request line and headers
constexpr std::size_t kBodyLimit = 1024;                 // a GET has no use for a body
constexpr auto kRequestTime = std::chrono::seconds(10);  // to send one whole request
constexpr auto kWriteTime = std::chrono::seconds(10);    // to take one response or event
constexpr unsigned kRequestsPerConnection = 100;
constexpr std::size_t kMaxConnections = 256;
constexpr std::size_t kMaxStreams = 16;
constexpr std::size_t kStreamBacklog = 64;  // events waiting for a slow stream before it is closed
// Library calls waiting for the worker, and how long a request waits for its turn.
constexpr std::size_t kMaxPending = 32;
constexpr auto kMaxWait = std::chrono::seconds(15);
constexpr auto kHeartbeat = std::chrono::seconds(15);
constexpr int kRetryAfterSeconds = 1;

constexpr const char* kLoopbackHosts[] = {"127.0.0.1", "localhost", "[::1]"};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// A port written as 1-5 decimal digits; -1 otherwise.
int parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return -1;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : -1;
}

// Splits "host:port" or "[v6]:port" (the brackets kept); false when malformed. A missing port
// gives `*port` -2.
bool split_host_port(std::string_view text, std::string* host, int* port) {
  std::size_t colon;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    colon = close + 1 < text.size() ? close + 1 : std::string_view::npos;
    if (colon != std::string_view::npos && text[colon] != ':') return false;
  } else {
    colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
      return false;
  }
  *host = std::string(text.substr(0, colon));
  *port = colon == std::string_view::npos ? -2 : parse_port(text.substr(colon + 1));
  return !host->empty() && *port != -1;
}

}  // namespace

// ---- Rules -------------------------------------------------------------------------------------

std::optional<ListenAddress> parse_listen(const std::string& text) {
  std::string host;
  int port = 0;
  if (!split_host_port(text, &host, &port) || port < 0) return std::nullopt;
  if (host.front() == '[') host = host.substr(1, host.size() - 2);
  ListenAddress a;
  a.port = port;
  if (lower(host) == "localhost") {
    a.host = "127.0.0.1";
    a.loopback = true;
    return a;
  }
  boost::system::error_code ec;
  const net::ip::address address = net::ip::make_address(host, ec);
  if (ec) return std::nullopt;  // a name other than localhost would need a resolver: not taken
  a.host = host;
  a.loopback = address.is_loopback();
  return a;
}

std::optional<std::string> parse_origin(const std::string& text) {
  const std::string origin = lower(text);
  std::string rest;
  for (const char* scheme : {"http://", "https://"}) {
    if (origin.rfind(scheme, 0) == 0) rest = origin.substr(std::string_view(scheme).size());
  }
  std::string host;
  int port = 0;
  if (rest.empty() || !split_host_port(rest, &host, &port) || port == 0) return std::nullopt;
  const bool v6 = host.front() == '[';
  for (char c : v6 ? host.substr(1, host.size() - 2) : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                    (v6 && c == ':');
    if (!ok) return std::nullopt;  // wildcards, paths, user names, blanks
  }
  return origin;
}

bool host_allowed(const std::string& header, int port, const std::string& extra_host) {
  std::string host;
  int given = 0;
  if (!split_host_port(header, &host, &given)) return false;
  if (given == -2) given = 80;
  if (given != port) return false;
  host = lower(host);
  for (const char* name : kLoopbackHosts) {
    if (host == name) return true;
  }
  return !extra_host.empty() && host == lower(extra_host);
}

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

// ---- The worker thread -------------------------------------------------------------------------

namespace {

// Runs jobs one after another on its own thread. A job is told whether to run: not when its
// deadline passed while it waited, nor once the worker stops.
class Worker {
 public:
  using Job = std::function<void(bool run)>;

  Worker() : thread_([this] { loop(); }) {}
  ~Worker() { stop(); }

  // False when kMaxPending jobs are waiting already (or the worker stopped).
  bool submit(Job job, Clock::time_point deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_ || queue_.size() >= kMaxPending) return false;
      queue_.push_back({std::move(job), deadline});
    }
    cv_.notify_one();
    return true;
  }

  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Item {
    Job job;
    Clock::time_point deadline;
  };

  void loop() {
    for (;;) {
      Item item;
      bool run;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
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
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

// ---- Responses ---------------------------------------------------------------------------------

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

struct Resource {
  const char* path;
  const char* media_type;  // every file is UTF-8 text
  const char* text;
};
constexpr Resource kPage[] = {
#include "serve_page.inc"
};

// Only the page's own files, never anything inline or from elsewhere.
constexpr const char kPagePolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src data:; connect-src 'self'; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

constexpr const char kJson[] = "application/json; charset=utf-8";

// Headers of every response: never cached (card data), never sniffed, framed or referred, and
// varying by the caller's origin.
template <class Body>
void secure(http::response<Body>& res, const std::string& allow_origin) {
  res.set(http::field::cache_control, "no-store");
  res.set("X-Content-Type-Options", "nosniff");
  res.set("Referrer-Policy", "no-referrer");
  res.set(http::field::vary, "Origin");
  if (!allow_origin.empty()) res.set("Access-Control-Allow-Origin", allow_origin);
}

std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string error_body(const char* kind, const std::string& message) {
  return dump({{"error", {{"kind", kind}, {"message", message}}}});
}

http::status status_of(Failure kind) {
  switch (kind) {
    case Failure::NoCard:
      return http::status::not_found;
    case Failure::NoReader:
      return http::status::service_unavailable;
    case Failure::ReadFailed:
      return http::status::bad_gateway;
    case Failure::Internal:
      break;
  }
  return http::status::internal_server_error;
}

// The path of a request target, for routing and the log: up to the query, printable ASCII only,
// cut short, so that a hostile target cannot forge log lines.
std::string loggable_path(beast::string_view target) {
  std::string path;
  for (char c : target) {
    if (c == '?' || path.size() >= 100) break;
    path += c > ' ' && c < 127 ? c : '?';
  }
  return path;
}

// One event of the stream, in the Server-Sent Events format.
std::string sse(const char* event, const std::string& data) {
  return std::string("event: ") + event + "\ndata: " + data + "\n\n";
}

}  // namespace

// ---- The service -------------------------------------------------------------------------------

class Session;

struct Service::Impl {
  Impl(ReaderOptions r, ServeOptions s) : reader(std::move(r)), options(std::move(s)) {}

  ReaderOptions reader;
  ServeOptions options;
  ListenAddress address;
  std::set<std::string> origins;  // allowed cross-origin callers
  std::set<std::string> own_origins;
  Library library;  // touched on the worker thread only
  int port = 0;

  std::size_t connections = 0;  // before ioc: sessions still queued in it count themselves out
  net::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  std::unique_ptr<Worker> worker;  // after ioc: stopped before it, as its jobs post to it

  // The event stream (network thread only).
  std::set<std::shared_ptr<Session>> streams;
  CardTracker tracker;
  std::string last_card_event;
  std::string last_error_event;
  net::steady_timer poll_timer{ioc};
  bool poll_active = false;  // a poll is scheduled or running
  net::steady_timer heartbeat_timer{ioc};

  void accept();
  void handle(Request req, const std::shared_ptr<Session>& session);
  void library_call(bool card, const std::string& allow_origin, unsigned version, bool keep_alive,
                    const std::shared_ptr<Session>& session);
  void subscribe(const std::shared_ptr<Session>& session);
  void unsubscribe(const std::shared_ptr<Session>& session);
  void schedule_poll(std::chrono::milliseconds delay);
  void poll();
  void heartbeat();
  void log(const std::string& method, const std::string& path, unsigned status) const {
    if (!options.quiet)
      std::fprintf(stderr, "idcard serve: %s %s %u\n", method.c_str(), path.c_str(), status);
  }
};

// One client connection: requests in turn, or, once it asked for the events, the event stream.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, Service::Impl& service)
      : stream_(std::move(socket)), service_(service) {
    ++service_.connections;
  }
  ~Session() { --service_.connections; }

  void start() { read_request(); }

  // Sends a response; the connection goes on reading requests unless it is to close.
  void reply(Response res, const std::string& method, const std::string& path) {
    service_.log(method, path, res.result_int());
    if (++requests_ >= kRequestsPerConnection) res.keep_alive(false);
    res.prepare_payload();
    response_ = std::make_shared<Response>(std::move(res));
    stream_.expires_after(kWriteTime);
    http::async_write(stream_, *response_,
                      [self = shared_from_this()](beast::error_code ec, std::size_t) {
                        const bool close = self->response_->need_eof();
                        self->response_.reset();
                        if (ec || close) return self->close();
                        self->read_request();
                      });
  }

  // Answers with the head of an event stream and keeps the connection for events.
  void open_stream(http::response<http::empty_body> head) {
    streaming_ = true;
    head_ = std::move(head);
    serializer_.emplace(*head_);
    stream_.expires_after(kWriteTime);
    http::async_write_header(stream_, *serializer_,
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                               if (ec) return self->close();
                               self->stream_.expires_never();
                               self->watch_for_close();
                               self->service_.subscribe(self);
                             });
  }

  void send_event(const std::string& text) {
    if (closed_) return;
    if (pending_.size() >= kStreamBacklog) return close();  // a client that does not read
    pending_.push_back(text);
    if (!writing_) write_event();
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    if (streaming_) service_.unsubscribe(shared_from_this());
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.close();
  }

 private:
  void read_request() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    buffer_.clear();
    stream_.expires_after(kRequestTime);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_request(ec); });
  }

  void on_request(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == beast::error::timeout) return close();
    if (ec.category() == http::make_error_code(http::error::bad_method).category()) {
      // Not HTTP, or more than the limits allow: say so once and close.
      const bool big_head = ec == http::error::header_limit || ec == http::error::buffer_overflow;
      const bool big_body = ec == http::error::body_limit;
      Response res{big_head   ? http::status::request_header_fields_too_large
                   : big_body ? http::status::payload_too_large
                              : http::status::bad_request,
                   11};
      res.set(http::field::content_type, kJson);
      secure(res, "");
      res.body() = error_body(big_head || big_body ? "too_large" : "malformed", ec.message());
      res.keep_alive(false);
      return reply(std::move(res), "-", "(malformed request)");
    }
    if (ec) return close();
    service_.handle(parser_->release(), shared_from_this());
  }

  // While streaming, the client sends nothing more; a read that ends means it went away.
  void watch_for_close() {
    stream_.async_read_some(net::buffer(drain_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) return self->close();
                              self->watch_for_close();
                            });
  }

  void write_event() {
    writing_ = true;
    stream_.expires_after(kWriteTime);
    net::async_write(stream_, net::buffer(pending_.front()),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       self->writing_ = false;
                       if (ec) return self->close();
                       self->pending_.pop_front();
                       if (self->closed_) return;
                       if (!self->pending_.empty()) return self->write_event();
                       self->stream_.expires_never();
                     });
  }

  beast::tcp_stream stream_;
  Service::Impl& service_;
  beast::flat_buffer buffer_{kHeaderLimit + kBodyLimit};
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Response> response_;
  unsigned requests_ = 0;
  // The event stream.
  bool streaming_ = false;
  bool closed_ = false;
  bool writing_ = false;
  std::optional<http::response<http::empty_body>> head_;
  std::optional<http::response_serializer<http::empty_body>> serializer_;
  std::deque<std::string> pending_;
  char drain_[256];
};

void Service::Impl::accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (!ec) {
      if (connections >= kMaxConnections) {
        beast::error_code ignored;
        socket.close(ignored);  // too many at once: refused before anything is read
      } else {
        std::make_shared<Session>(std::move(socket), *this)->start();
      }
    }
    accept();
  });
}

void Service::Impl::handle(Request req, const std::shared_ptr<Session>& session) {
  const std::string method = std::string(req.method_string()).substr(0, 16);
  const std::string path = loggable_path(req.target());
  Response res{http::status::ok, req.version()};
  res.keep_alive(req.keep_alive());
  secure(res, "");
  auto refuse = [&](http::status status, const char* kind, const std::string& message) {
    res.result(status);
    res.set(http::field::content_type, kJson);
    res.body() = error_body(kind, message);
    session->reply(std::move(res), method, path);
  };

  // The parser bounds the head only roughly when it comes as many small fields: count it exactly.
  std::size_t head_size = req.method_string().size() + req.target().size() + 12;
  for (const auto& field : req) head_size += field.name_string().size() + field.value().size() + 4;
  if (head_size > kHeaderLimit) {
    res.keep_alive(false);
    return refuse(http::status::request_header_fields_too_large, "too_large",
                  "the request's head is too large");
  }

  // Who is asking: this service by a loopback name and its port (no DNS rebinding), and either its
  // own page or an allowed origin.
  if (req.version() != 10 && req.version() != 11)
    return refuse(http::status::bad_request, "malformed", "HTTP/1.0 or HTTP/1.1 expected");
  if (req.count(http::field::host) != 1)
    return refuse(http::status::bad_request, "malformed", "exactly one Host header expected");
  if (!host_allowed(std::string(req[http::field::host]), port,
                    address.loopback ? "" : address.host))
    return refuse(http::status::forbidden, "host", "the Host header does not name this service");
  std::string allow_origin;
  if (req.count(http::field::origin) > 1)
    return refuse(http::status::bad_request, "malformed", "more than one Origin header");
  if (req.count(http::field::origin) == 1) {
    const std::string origin(req[http::field::origin]);
    if (origins.count(origin)) {
      allow_origin = origin;
      secure(res, allow_origin);
    } else if (!own_origins.count(origin)) {
      return refuse(http::status::forbidden, "origin",
                    "this origin is not allowed (see --allow-origin)");
    }
  }

  if (req.method() == http::verb::options) {  // a CORS preflight
    res.result(http::status::no_content);
    res.set("Access-Control-Allow-Methods", "GET");
    res.set("Access-Control-Allow-Headers", "Last-Event-ID");
    res.set("Access-Control-Max-Age", "600");
    if (!allow_origin.empty() && req["Access-Control-Request-Private-Network"] == "true")
      res.set("Access-Control-Allow-Private-Network", "true");
    return session->reply(std::move(res), method, path);
  }
  const bool api = path.rfind("/api/", 0) == 0;
  if (req.method() != http::verb::get && (api || req.method() != http::verb::head)) {
    res.set(http::field::allow, api ? "GET, OPTIONS" : "GET, HEAD, OPTIONS");
    return refuse(http::status::method_not_allowed, "method", "only GET is served here");
  }

  if (path == "/api/v1/card" || path == "/api/v1/reader")
    return library_call(path == "/api/v1/card", allow_origin, req.version(), req.keep_alive(),
                        session);
  if (path == "/api/v1/events") {
    if (streams.size() >= kMaxStreams)
      return refuse(http::status::service_unavailable, "busy", "too many event streams");
    http::response<http::empty_body> head{http::status::ok, req.version()};
    for (const auto& field : res) head.set(field.name_string(), field.value());
    head.set(http::field::content_type, "text/event-stream; charset=utf-8");
    head.keep_alive(false);  // the stream ends with the connection
    log(method, path, 200);
    return session->open_stream(std::move(head));
  }
  for (const Resource& r : kPage) {
    if (path != r.path) continue;
    res.set(http::field::content_type, std::string(r.media_type) + "; charset=utf-8");
    res.set("Content-Security-Policy", kPagePolicy);
    res.set("X-Frame-Options", "DENY");
    res.body() = req.method() == http::verb::head ? "" : r.text;
    return session->reply(std::move(res), method, path);
  }
  refuse(http::status::not_found, "not_found", "no such resource");
}

// GET /api/v1/card and /api/v1/reader: the library call runs on the worker; its answer comes back
// to the network thread.
void Service::Impl::library_call(bool card, const std::string& allow_origin, unsigned version,
                                 bool keep_alive, const std::shared_ptr<Session>& session) {
  const std::string path = card ? "/api/v1/card" : "/api/v1/reader";
  // `retry`: a refusal for being busy, to be tried again after a second.
  auto respond = [session, allow_origin, version, keep_alive, path](
                     http::status status, std::string body, bool retry = false) {
    Response res{status, version};
    res.keep_alive(keep_alive);
    res.set(http::field::content_type, kJson);
    if (retry) res.set(http::field::retry_after, std::to_string(kRetryAfterSeconds));
    secure(res, allow_origin);
    res.body() = std::move(body);
    session->reply(std::move(res), "GET", path);
  };
  auto busy = [respond] {
    respond(http::status::service_unavailable,
            error_body("busy", "the reader is busy with other requests; try again"), true);
  };
  const bool queued = worker->submit(
      [this, card, respond, busy](bool run) {
        if (!run) return net::post(ioc, busy);
        const ReadResult r = card ? read_card(library, reader) : check_reader(library, reader);
        http::status status = http::status::ok;
        std::string body;
        if (!r.ok) {
          status = status_of(r.error.kind);
          body = dump(error_json(r.error));
        } else if (card) {
          body = dump(card_json(reader.edition_name, r.card, read_file(r.card.photo)));
        } else {
          body =
              dump({{"edition", reader.edition_name}, {"port", reader.port}, {"reader", "ready"}});
        }
        net::post(ioc, [respond, status, body = std::move(body)]() mutable {
          respond(status, std::move(body));
        });
      },
      Clock::now() + kMaxWait);
  if (!queued) busy();
}

// ---- Events ------------------------------------------------------------------------------------

void Service::Impl::subscribe(const std::shared_ptr<Session>& session) {
  streams.insert(session);
  session->send_event("retry: 2000\n\n");
  // A newcomer learns what the others already know: the card lying there, a reader in trouble.
  if (tracker.card_present() && !last_card_event.empty()) session->send_event(last_card_event);
  if (tracker.in_error() && !last_error_event.empty()) session->send_event(last_error_event);
  if (!poll_active) schedule_poll(std::chrono::milliseconds(0));
}

void Service::Impl::unsubscribe(const std::shared_ptr<Session>& session) {
  streams.erase(session);
  if (!streams.empty()) return;
  // Nobody listens: polling stops, and the next listener starts afresh.
  tracker = CardTracker();
  last_card_event.clear();
  last_error_event.clear();
  poll_timer.cancel();
}

void Service::Impl::schedule_poll(std::chrono::milliseconds delay) {
  poll_active = true;
  poll_timer.expires_after(delay);
  poll_timer.async_wait([this](beast::error_code ec) {
    if (ec || streams.empty()) {
      poll_active = false;
      return;
    }
    poll();
  });
}

void Service::Impl::poll() {
  struct Outcome {
    enum Kind { Card, NoCard, Error } kind = Error;
    std::string id;
    std::string data;
  };
  const bool queued = worker->submit(
      [this](bool run) {
        if (!run) return;
        auto outcome = std::make_shared<Outcome>();
        const ReadResult r = read_card(library, reader);
        if (r.ok) {
          const std::string* id = r.card.find("id_number");
          outcome->kind = Outcome::Card;
          outcome->id = id ? *id : std::string();
          outcome->data = dump(card_json(reader.edition_name, r.card, read_file(r.card.photo)));
        } else if (r.error.kind == Failure::NoCard) {
          outcome->kind = Outcome::NoCard;
        } else {
          outcome->id = std::string(failure_name(r.error.kind)) + " " + r.error.call + " " +
                        std::to_string(r.error.code);
          outcome->data = dump(error_json(r.error));
        }
        net::post(ioc, [this, outcome] {
          if (streams.empty()) {
            poll_active = false;
            return;
          }
          const CardTracker::Events e = outcome->kind == Outcome::Card ? tracker.card(outcome->id)
                                        : outcome->kind == Outcome::NoCard
                                            ? tracker.no_card()
                                            : tracker.error(outcome->id);
          std::vector<std::string> events;
          if (e.ready) events.push_back(sse("ready", R"({"reader":"ready"})"));
          if (e.card) events.push_back(last_card_event = sse("card", outcome->data));
          if (e.error) events.push_back(last_error_event = sse("error", outcome->data));
          const auto listeners = streams;  // a failed send closes its stream, changing the set
          for (const std::string& event : events) {
            for (const auto& s : listeners) s->send_event(event);
          }
          schedule_poll(options.poll_interval);
        });
      },
      Clock::time_point::max());
  if (!queued) schedule_poll(options.poll_interval);  // the worker is swamped: try again later
}

void Service::Impl::heartbeat() {
  heartbeat_timer.expires_after(kHeartbeat);
  heartbeat_timer.async_wait([this](beast::error_code ec) {
    if (ec) return;
    const auto listeners = streams;
    for (const auto& s : listeners) s->send_event(": keep-alive\n\n");
    heartbeat();
  });
}

// ---- Life cycle ---------------------------------------------------------------------------------

Service::Service(ReaderOptions reader, ServeOptions serve)
    : impl_(std::make_unique<Impl>(std::move(reader), std::move(serve))) {}

Service::~Service() {
  stop();
  if (impl_->worker) impl_->worker->stop();
}

bool Service::start(std::string* error) {
  Impl& s = *impl_;
  const std::optional<ListenAddress> address = parse_listen(s.options.listen);
  if (!address) {
    *error = "bad --listen address '" + s.options.listen + "' (HOST:PORT, e.g. 127.0.0.1:8089)";
    return false;
  }
  if (!address->loopback && !s.options.allow_non_loopback) {
    *error = address->host + " is not a loopback address: add --allow-non-loopback to listen there";
    return false;
  }
  s.address = *address;
  for (const std::string& text : s.options.allowed_origins) {
    const std::optional<std::string> origin = parse_origin(text);
    if (!origin) {
      *error = "bad --allow-origin '" + text + "' (scheme://host[:port], no wildcard, no path)";
      return false;
    }
    s.origins.insert(*origin);
  }

  // The library is loaded on the worker thread, which makes every later call too.
  s.worker = std::make_unique<Worker>();
  std::promise<std::string> loaded;
  s.worker->submit(
      [&s, &loaded](bool) {
        std::string message;
        loaded.set_value(load(s.reader, &s.library, &message) ? std::string() : message);
      },
      Clock::time_point::max());
  *error = loaded.get_future().get();
  if (!error->empty()) return false;

  boost::system::error_code ec;
  const tcp::endpoint endpoint(net::ip::make_address(s.address.host, ec),
                               static_cast<unsigned short>(s.address.port));
  s.acceptor.open(endpoint.protocol(), ec);
#if defined(_WIN32)
  // No other program may bind the same port beside this one and take its clients.
  using exclusive = net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  if (!ec) s.acceptor.set_option(exclusive(true), ec);
#else
  if (!ec) s.acceptor.set_option(net::socket_base::reuse_address(true), ec);
#endif
  if (!ec) s.acceptor.bind(endpoint, ec);
  if (!ec) s.acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + s.options.listen + ": " + ec.message();
    return false;
  }
  s.port = s.acceptor.local_endpoint().port();
  const std::string port = std::to_string(s.port);
  for (const char* host : kLoopbackHosts)
    s.own_origins.insert(std::string("http://") + host + ":" + port);
  if (!s.address.loopback) s.own_origins.insert("http://" + s.address.host + ":" + port);
  s.accept();
  s.heartbeat();
  return true;
}

int Service::port() const { return impl_->port; }

void Service::run() { impl_->ioc.run(); }

void Service::stop() { impl_->ioc.stop(); }

void Service::on_worker(const std::function<void()>& fn) {
  std::promise<void> done;
  impl_->worker->submit(
      [&](bool) {
        fn();
        done.set_value();
      },
      Clock::time_point::max());
  done.get_future().wait();
}

int serve(const ReaderOptions& reader, const ServeOptions& options) {
  Service service(reader, options);
  std::string error;
  if (!service.start(&error)) {
    std::fprintf(stderr, "idcard serve: %s\n", error.c_str());
    return 2;
  }
  const std::optional<ListenAddress> address = parse_listen(options.listen);
  if (!address->loopback) {
    std::fprintf(stderr,
                 "idcard serve: WARNING: listening on %s, not on loopback: every machine that "
                 "reaches this address can ask for the card\n",
                 address->host.c_str());
  }
  const bool v6 = address->host.find(':') != std::string::npos;
  std::printf("idcard serve: listening on http://%s%s%s:%d/ (edition %s, reader port %d)\n",
              v6 ? "[" : "", address->host.c_str(), v6 ? "]" : "", service.port(),
              reader.edition_name.c_str(), reader.port);
  std::fflush(stdout);
  service.run();
  return 0;
}

}  // namespace idcard
