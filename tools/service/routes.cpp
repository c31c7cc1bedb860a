#include "tools/service/routes.h"

#include <string_view>

#include "tools/service/page.h"
#include "tools/service/session.h"

namespace idcard {

namespace {

// What a route gets: the rooms, the request as checked, and where to answer.
struct RouteCall {
  const Rooms& rooms;
  const Request& req;
  const RequestInfo& info;
  const std::shared_ptr<Session>& session;
  std::string allow_origin;  // set by the caller check for an allowed cross-origin caller
  const PageFile* page = nullptr;  // the page file a page route serves
};

using RouteHandler = void (*)(RouteCall&);

void refuse(const RouteCall& c, http::status status, const char* kind, const std::string& message) {
  Response res = response(c.info, status, c.allow_origin);
  set_error(res, kind, message);
  c.session->reply(std::move(res), c.info);
}

// A 503 says when to try again, readable by an allowed page too (Retry-After is not among the
// response headers a cross-origin page may read unless they are named).
void set_retry_after(Response& res, int seconds) {
  res.set(http::field::retry_after, std::to_string(seconds));
  res.set("Access-Control-Expose-Headers", "Retry-After");
}

// GET /api/v1/card and /api/v1/reader: the call runs on the reader in turn; its answer comes back
// to the network thread.
void reader_call(const RouteCall& c, Reads::What what) {
  auto respond = [session = c.session, info = c.info, origin = c.allow_origin](ReadReply reply) {
    Response res = response(info, reply.status, origin);
    res.set(http::field::content_type, kJson);
    if (reply.retry_after > 0) set_retry_after(res, reply.retry_after);
    res.body() = std::move(reply.document);
    session->reply(std::move(res), info);
  };
  if (!c.rooms.reads.submit(what, respond, Clock::now() + kMaxWait)) respond(Reads::busy());
}

void card_route(RouteCall& c) { reader_call(c, Reads::What::Card); }
void reader_route(RouteCall& c) { reader_call(c, Reads::What::Reader); }

void events_route(RouteCall& c) {
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
  if (!c.rooms.events.admit()) {
    Response res = response(c.info, http::status::service_unavailable, c.allow_origin);
    set_error(res, "busy", "too many event streams");
    set_retry_after(res, kRetryAfterSeconds);
    return c.session->reply(std::move(res), c.info);
  }
  c.session->open_stream(std::move(head), c.info);
}

void page_route(RouteCall& c) {
  Response res = response(c.info, http::status::ok, c.allow_origin);
  res.set(http::field::content_type, std::string(c.page->media_type) + "; charset=utf-8");
  res.set("Content-Security-Policy", kPagePolicy);
  res.set("X-Frame-Options", "DENY");
  res.body() = c.page->text;
  c.session->reply(std::move(res), c.info);
}

void not_found(RouteCall& c) { refuse(c, http::status::not_found, "not_found", "no such resource"); }


// The request headers a page's own code or its HTTP library commonly adds to every request, so that
// such a page is not refused by the browser. None carries anything the service acts on.
// Authorization is left out on purpose: a page must not hand its site's credentials to a local
// program, and the service has no use for them.
constexpr const char kAllowedRequestHeaders[] =
    "Accept, Accept-Language, Content-Language, Content-Type, Cache-Control, Pragma, "
    "Last-Event-ID, X-Requested-With";

// A CORS preflight (only callers that passed the check get here), with the private-network
// request of browsers that ask for it.
void preflight(const RouteCall& c) {
  Response res = response(c.info, http::status::no_content, c.allow_origin);
  res.set("Access-Control-Allow-Methods", "GET, HEAD");
  res.set("Access-Control-Allow-Headers", kAllowedRequestHeaders);
  res.set("Access-Control-Max-Age", "600");
  if (!c.allow_origin.empty() && c.req["Access-Control-Request-Private-Network"] == "true")
    res.set("Access-Control-Allow-Private-Network", "true");
  c.session->reply(std::move(res), c.info);
}

// A resource read with GET or HEAD: a preflight is answered for it, any other method refused.
template <RouteHandler handle>
void readable(RouteCall& c) {
  if (c.req.method() == http::verb::options) return preflight(c);
  if (c.req.method() != http::verb::get && c.req.method() != http::verb::head) {
    Response res = response(c.info, http::status::method_not_allowed, c.allow_origin);
    res.set(http::field::allow, "GET, HEAD, OPTIONS");
    set_error(res, "method", "only GET and HEAD are served here");
    return c.session->reply(std::move(res), c.info);
  }
  handle(c);
}

// Answers only callers that pass the check (caller_check.h); the others get its refusal.
template <RouteHandler handle>
void caller_checked(RouteCall& c) {
  const Verdict verdict = check_caller(c.req, c.rooms.callers);
  if (!verdict.ok) {
    Response res = response(c.info, verdict.status, "");
    if (verdict.close) res.keep_alive(false);
    set_error(res, verdict.kind, verdict.message);
    return c.session->reply(std::move(res), c.info);
  }
  c.allow_origin = verdict.allow_origin;
  handle(c);
}

struct Route {
  std::string_view path;  // empty: the entry for every path that no other names
  RouteHandler handle;
};

// The API, the page's files, and every other path, each read by callers that pass the check only.
constexpr Route kRoutes[] = {
    {"/api/v1/card", caller_checked<readable<card_route>>},
    {"/api/v1/reader", caller_checked<readable<reader_route>>},
    {"/api/v1/events", caller_checked<readable<events_route>>},
};
constexpr RouteHandler kPageRoute = caller_checked<readable<page_route>>;
constexpr RouteHandler kNotFound = caller_checked<readable<not_found>>;

}  // namespace

void route(const Rooms& rooms, Request req, const std::shared_ptr<Session>& session) {
  const RequestInfo info = request_info(req);
  RouteCall c{rooms, req, info, session, {}, nullptr};
  for (const Route& r : kRoutes) {
    if (info.path == r.path) return r.handle(c);
  }
  for (const PageFile& file : page_files()) {
    if (info.path != file.path) continue;
    c.page = &file;
    return kPageRoute(c);
  }
  kNotFound(c);
}

}  // namespace idcard
