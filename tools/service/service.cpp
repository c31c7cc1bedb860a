// The service's start and stop, and what every library call does around the edition's sequence.
#include "tools/service/service.h"

#include <cstdio>
#include <memory>
#include <string>

#include "tools/editions/edition_log.h"
#include "tools/service/addresses.h"
#include "tools/service/listener.h"
#include "tools/service/session.h"
#include "tools/service/state.h"
#include "tools/service/stop_signals.h"

namespace idcard {

namespace {

// The edition's log and the service's own stay at most this large, keeping their newest lines.
constexpr std::size_t kLogLimit = 1 << 20;

// The callers the options name; false with a message for an origin or host that is not one.
bool set_callers(Service::Impl& s, const ListenAddress& address, std::string* error) {
  for (const std::string& text : s.options.allowed_origins) {
    const std::optional<std::string> origin = parse_origin(text);
    if (!origin) {
      *error = bad_origin(text);
      return false;
    }
    s.callers.origins.insert(*origin);
  }
  for (const std::string& text : s.options.allowed_hosts) {
    const std::optional<std::string> host = parse_host_name(text);
    if (!host) {
      *error = bad_host_name(text);
      return false;
    }
    s.callers.hosts.push_back(*host);
  }
  if (!address.loopback && !s.options.allow_non_loopback) {
    *error = not_loopback(address);
    return false;
  }
  return true;
}

// The service's own pages, by every name it answers to.
void set_own_origins(Service::Impl& s) {
  const std::string port = std::to_string(s.callers.port);
  for (const std::vector<std::string>* names : std::initializer_list<const std::vector<std::string>*>{&loopback_hosts(), &s.callers.hosts}) {
    for (const std::string& host : *names) s.callers.own_origins.insert("http://" + host + ":" + port);
  }
}

// The --log file: appended to, after it was cut back to its newest lines when it outgrew the
// limit. Unbuffered, so that the log tells what happened up to the moment the service ended.
// (Standard output and error are not redirected: a service started by the service manager has
// none to redirect.)
std::FILE* open_log(const std::string& path) {
  bound_log(path, kLogLimit);
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace

void Service::Impl::log(const RequestInfo& info, unsigned status) const {
  if (!options.quiet)
    std::fprintf(log_to, "idcard serve: %s %s %u\n", info.method.c_str(), info.path.c_str(), status);
}

Service::Service(ReaderOptions reader, ServeOptions serve, std::unique_ptr<ReaderCalls> calls)
    : impl_(std::make_unique<Impl>(std::move(reader), std::move(serve), std::move(calls))) {}

Service::~Service() { finish(); }

bool Service::start(std::string* error) {
  Impl& s = *impl_;
  const std::optional<ListenAddress> address = parse_listen(s.options.listen);
  if (!address) {
    *error = bad_listen(s.options.listen);
    return false;
  }
  if (!set_callers(s, *address, error) || !s.reads.start(error, &s.started)) return false;
  if (!bind_listener(s, *address, error)) return false;
  s.callers.port = s.acceptor.local_endpoint().port();
  set_own_origins(s);
  accept_connections(s);
  s.events.start_heartbeat();
  return true;
}

int Service::port() const { return impl_->callers.port; }

void Service::run() { impl_->ioc.run(); }

void Service::stop() {
  Impl& s = *impl_;
  net::post(s.ioc, [&s] {
    if (s.stopping) return;
    s.stopping = true;
    beast::error_code ec;
    s.acceptor.close(ec);
    s.events.stop();
    // Connections waiting for the worker are closed too; their answers are dropped.
    std::vector<Session*> open(s.sessions.begin(), s.sessions.end());
    for (Session* session : open) session->close();
  });
}

void Service::finish() {
  Impl& s = *impl_;
  if (s.finished) return;
  s.finished = true;
  s.reads.finish();
}

void Service::on_worker(const std::function<void()>& fn) { impl_->reads.on_worker(fn); }

void Service::end_reader() { impl_->reads.end_reader(); }

int serve(const ReaderOptions& reader, const ServeOptions& options, const ServeRun& run) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_file(nullptr, &std::fclose);
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  if (!options.log_file.empty()) {
    log_file.reset(open_log(options.log_file));
    if (!log_file) {
      std::fprintf(stderr, "idcard serve: cannot write the log %s\n", options.log_file.c_str());
      return 2;
    }
    out = err = log_file.get();
  }
  Service service(reader, options);
  service.impl_->log_to = err;
  std::string error;
  if (!service.start(&error)) {
    std::fprintf(err, "idcard serve: %s\n", error.c_str());
    return 2;
  }
  const std::optional<ListenAddress> address = parse_listen(options.listen);
  if (!address->loopback) {
    std::fprintf(err,
                 "idcard serve: WARNING: listening on %s, not on loopback: every machine that "
                 "reaches this address can ask for the card\n",
                 address->host.c_str());
  }
  const bool v6 = address->host.find(':') != std::string::npos;
  // The start line names the driver, and says so when the simulated reader stands in for a
  // driver that was not found.
  const ReaderAnswer& started = service.impl_->started;
  std::fprintf(out, "idcard serve: listening on http://%s%s%s:%d/ (edition %s, reader port %d, driver %s)%s%s\n",
               v6 ? "[" : "", address->host.c_str(), v6 ? "]" : "", service.port(),
               reader.edition_name.c_str(), reader.port, started.driver.c_str(),
               started.notice.empty() ? "" : ": ", started.notice.c_str());
  std::fflush(out);
  StopSignals signals(service.impl_->ioc, [&service] { service.stop(); }, run.console);
  if (run.serving) run.serving();
  service.run();
  service.finish();
  std::fprintf(out, "idcard serve: stopped\n");
  std::fflush(out);
  signals.finished();
  return 0;
}

}  // namespace idcard
