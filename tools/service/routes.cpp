#include "tools/service/routes.h"

#include <string_view>

#include "tools/card/schema.h"
#include "tools/service/page.h"
#include "tools/service/session.h"
#include "tools/service/state.h"

namespace idcard {

namespace {

// What a route gets: the service, the request as checked, and where to answer.
struct Call {
  Service::Impl& service;
  const RequestInfo& info;
  const std::string& allow_origin;
  const std::shared_ptr<Session>& session;
};

void refuse(const Call& c, http::status status, const char* kind, const std::string& message) {
  Response res = response(c.info, status, c.allow_origin);
  set_error(res, kind, message);
  c.session->reply(std::move(res), c.info);
}

// A busy answer says when to try again, readable by an allowed page too (Retry-After is not among
// the response headers a cross-origin page may read unless they are named).
void set_busy(Response& res) {
  res.set(http::field::retry_after, std::to_string(kRetryAfterSeconds));
  res.set("Access-Control-Expose-Headers", "Retry-After");
}

// GET /api/v1/card and /api/v1/reader: the library call runs on the worker; its answer comes back
// to the network thread.
void library_route(const Call& c, bool card) {
  auto respond = [session = c.session, info = c.info, origin = c.allow_origin](
                     http::status status, std::string body, bool busy) {
    Response res = response(info, status, origin);
    res.set(http::field::content_type, kJson);
    if (busy) set_busy(res);
    res.body() = std::move(body);
    session->reply(std::move(res), info);
  };
  auto busy = [respond] {
    respond(http::status::service_unavailable,
            dump({{"error", {{"kind", "busy"}, {"message", "the reader is busy; try again"}}}}),
            true);
  };
  Service::Impl& s = c.service;
  const bool queued = s.worker->submit(
      [&s, card, respond, busy](bool run) {
        if (!run) return net::post(s.ioc, busy);
        Service::Impl::CallResult r = s.library_call(card);
        const http::status status = r.read.ok ? http::status::ok : status_of(r.read.error.kind);
        net::post(s.ioc, [respond, status, body = std::move(r.document)]() mutable {
          respond(status, std::move(body), false);
        });
      },
      Clock::now() + kMaxWait);
  if (!queued) busy();
}

void card_route(const Call& c) { library_route(c, true); }
void reader_route(const Call& c) { library_route(c, false); }

void events_route(const Call& c) {
  http::response<http::empty_body> head{http::status::ok, c.info.version};
  secure(head, c.allow_origin);
  head.set(http::field::content_type, "text/event-stream; charset=utf-8");
  head.keep_alive(false);  // the stream ends with the connection
  if (c.info.head) {
    Response res = response(c.info, http::status::ok, c.allow_origin);
    res.set(http::field::content_type, "text/event-stream; charset=utf-8");
    res.keep_alive(false);
    return c.session->reply(std::move(res), c.info);
  }
  if (c.service.stopping || !c.service.events.admit()) {
    Response res = response(c.info, http::status::service_unavailable, c.allow_origin);
    set_error(res, "busy", "too many event streams");
    set_busy(res);
    return c.session->reply(std::move(res), c.info);
  }
  c.service.log(c.info, 200);
  c.session->open_stream(std::move(head));
}

void page_route(const Call& c, const PageFile& file) {
  Response res = response(c.info, http::status::ok, c.allow_origin);
  res.set(http::field::content_type, std::string(file.media_type) + "; charset=utf-8");
  res.set("Content-Security-Policy", kPagePolicy);
  res.set("X-Frame-Options", "DENY");
  res.body() = file.text;
  c.session->reply(std::move(res), c.info);
}

struct Route {
  std::string_view path;
  void (*handle)(const Call&);
};

constexpr Route kRoutes[] = {
    {"/api/v1/card", card_route},
    {"/api/v1/reader", reader_route},
    {"/api/v1/events", events_route},
};

// The request headers a page's own code or its HTTP library commonly adds to every request, so that
// such a page is not refused by the browser. None carries anything the service acts on.
// Authorization is left out on purpose: a page must not hand its site's credentials to a local
// program, and the service has no use for them.
constexpr const char kAllowedRequestHeaders[] =
    "Accept, Accept-Language, Content-Language, Content-Type, Cache-Control, Pragma, "
    "Last-Event-ID, X-Requested-With";

// A CORS preflight (only callers that passed the check get here), with the private-network
// request of browsers that ask for it.
void preflight(const Call& c, const Request& req) {
  Response res = response(c.info, http::status::no_content, c.allow_origin);
  res.set("Access-Control-Allow-Methods", "GET, HEAD");
  res.set("Access-Control-Allow-Headers", kAllowedRequestHeaders);
  res.set("Access-Control-Max-Age", "600");
  if (!c.allow_origin.empty() && req["Access-Control-Request-Private-Network"] == "true")
    res.set("Access-Control-Allow-Private-Network", "true");
  c.session->reply(std::move(res), c.info);
}

}  // namespace

void route(Service::Impl& service, Request req, const std::shared_ptr<Session>& session) {
  const RequestInfo info = request_info(req);
  const Verdict verdict = check_caller(req, service.callers);
  const Call c{service, info, verdict.allow_origin, session};
  if (!verdict.ok) {
    Response res = response(info, verdict.status, "");
    if (verdict.close) res.keep_alive(false);
    set_error(res, verdict.kind, verdict.message);
    return session->reply(std::move(res), info);
  }
  if (req.method() == http::verb::options) return preflight(c, req);
  if (req.method() != http::verb::get && req.method() != http::verb::head) {
    Response res = response(info, http::status::method_not_allowed, c.allow_origin);
    res.set(http::field::allow, "GET, HEAD, OPTIONS");
    set_error(res, "method", "only GET and HEAD are served here");
    return session->reply(std::move(res), info);
  }
  for (const Route& r : kRoutes) {
    if (info.path == r.path) return r.handle(c);
  }
  for (const PageFile& file : page_files()) {
    if (info.path == file.path) return page_route(c, file);
  }
  refuse(c, http::status::not_found, "not_found", "no such resource");
}

}  // namespace idcard
