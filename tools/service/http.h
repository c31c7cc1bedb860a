// The service's HTTP vocabulary: Boost.Asio and Boost.Beast (the parsing and serialising are
// theirs), the limits on what a client may send, and the headers of every response.
#pragma once

// <utility> before Asio, whose coroutine header uses std::exchange without including it.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <string>

#include "tools/card/card.h"

namespace idcard {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// Limits on what a client may send and how long it may take.
inline constexpr std::size_t kHeaderLimit = 8192;               // request line and headers
inline constexpr std::size_t kBodyLimit = 1024;                 // a GET has no use for a body
inline constexpr auto kRequestTime = std::chrono::seconds(10);  // to send one whole request
inline constexpr auto kWriteTime = std::chrono::seconds(10);    // to take one response or event
inline constexpr unsigned kRequestsPerConnection = 100;
inline constexpr std::size_t kMaxConnections = 256;
inline constexpr int kRetryAfterSeconds = 1;

inline constexpr const char kJson[] = "application/json; charset=utf-8";

// What the log and the response need of the request it answers.
struct RequestInfo {
  std::string method;  // for the log, cut short
  std::string path;    // loggable: printable ASCII, up to the query, cut short
  unsigned version = 11;
  bool keep_alive = false;
  bool head = false;  // a HEAD: the response goes without its body
};
RequestInfo request_info(const Request& req);

// A response of `status` with the headers of every response: never cached (card data), never
// sniffed, framed or referred, varying by the caller's origin, and the allowed origin named.
Response response(const RequestInfo& info, http::status status, const std::string& allow_origin);
void secure(http::fields& headers, const std::string& allow_origin);
// A JSON error document {"error": {"kind", "message"}} as the body of `res`.
void set_error(Response& res, const char* kind, const std::string& message);
// The status of a failed read.
http::status status_of(Failure kind);

}  // namespace idcard
