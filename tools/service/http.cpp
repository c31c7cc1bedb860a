#include "tools/service/http.h"

#include "tools/card/schema.h"

namespace idcard {

namespace {

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

}  // namespace

RequestInfo request_info(const Request& req) {
  RequestInfo info;
  info.method = std::string(req.method_string()).substr(0, 16);
  info.path = loggable_path(req.target());
  info.version = req.version();
  info.keep_alive = req.keep_alive();
  info.head = req.method() == http::verb::head;
  return info;
}

void secure(http::fields& headers, const std::string& allow_origin) {
  headers.set(http::field::cache_control, "no-store");
  headers.set("X-Content-Type-Options", "nosniff");
  headers.set("Referrer-Policy", "no-referrer");
  headers.set(http::field::vary, "Origin");
  if (!allow_origin.empty()) headers.set("Access-Control-Allow-Origin", allow_origin);
}

Response response(const RequestInfo& info, http::status status, const std::string& allow_origin) {
  Response res{status, info.version};
  res.keep_alive(info.keep_alive);
  secure(res, allow_origin);
  return res;
}

void set_error(Response& res, const char* kind, const std::string& message) {
  res.set(http::field::content_type, kJson);
  res.body() = dump({{"error", {{"kind", kind}, {"message", message}}}});
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

}  // namespace idcard
