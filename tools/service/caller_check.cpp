#include "tools/service/caller_check.h"

#include "tools/service/addresses.h"

namespace idcard {

namespace {

Verdict refuse(http::status status, const char* kind, std::string message, bool close = false) {
  return {false, status, kind, std::move(message), close, ""};
}

// The parser bounds the head only roughly when it comes as many small fields: count it exactly.
std::size_t head_size(const Request& req) {
  std::size_t size = req.method_string().size() + req.target().size() + 12;
  for (const auto& field : req) size += field.name_string().size() + field.value().size() + 4;
  return size;
}

Verdict check_shape(const Request& req) {
  if (head_size(req) > kHeaderLimit)
    return refuse(http::status::request_header_fields_too_large, "too_large",
                  "the request's head is too large", true);
  if (req.version() != 10 && req.version() != 11)
    return refuse(http::status::bad_request, "malformed", "HTTP/1.0 or HTTP/1.1 expected");
  if (req.count(http::field::host) != 1)
    return refuse(http::status::bad_request, "malformed", "exactly one Host header expected");
  if (req.count(http::field::origin) > 1)
    return refuse(http::status::bad_request, "malformed", "more than one Origin header");
  if (req.count("Sec-Fetch-Site") > 1)
    return refuse(http::status::bad_request, "malformed", "more than one Sec-Fetch-Site header");
  return {};
}

// Where the request comes from, as the browser says: from the service's own pages or an allowed
// origin, or, without an allowed Origin, from no other site (same-origin, a typed address, or no
// browser at all).
Verdict check_origin(const Request& req, const Callers& callers) {
  Verdict v;
  if (req.count(http::field::origin) == 1) {
    const std::string origin(req[http::field::origin]);
    if (callers.origins.count(origin)) {
      v.allow_origin = origin;
      return v;
    }
    if (callers.own_origins.count(origin)) return v;
    return refuse(http::status::forbidden, "origin",
                  "this origin is not allowed (see --allow-origin)");
  }
  const auto site = req.find("Sec-Fetch-Site");
  if (site == req.end() || site->value() == "same-origin" || site->value() == "none") return v;
  return refuse(http::status::forbidden, "origin",
                "a request from another site without an allowed Origin");
}

}  // namespace

Verdict check_caller(const Request& req, const Callers& callers) {
  Verdict v = check_shape(req);
  if (!v.ok) return v;
  if (!host_allowed(std::string(req[http::field::host]), callers.port, callers.hosts))
    return refuse(http::status::forbidden, "host", "the Host header does not name this service");
  return check_origin(req, callers);
}

}  // namespace idcard
