// What a caller hands the service: a listen address, origin or host name as the options take
// them, and a request head as the network delivers it, judged by the caller check.
//
// Input: a text for the address rules (up to a backslash and one more byte), two host names and
// two origins to allow (likewise), the service's port (the input's last two bytes) and the rest as
// the raw request.
#include <cstdint>
#include <string>

#include "tests/fuzz/harness.h"
#include "tools/service/addresses.h"
#include "tools/service/caller_check.h"

namespace {

using namespace idcard;

bool has_upper(const std::string& text) {
  for (char c : text)
    if (c >= 'A' && c <= 'Z') return true;
  return false;
}

// A listen address that was taken once is taken again as the service prints it, with the same
// meaning.
void check_listen(const std::string& text) {
  const std::optional<ListenAddress> a = parse_listen(text);
  if (!a) return;
  FUZZ_CHECK(a->port >= 0 && a->port <= 65535, a->port);
  const bool v6 = a->host.find(':') != std::string::npos;
  const std::string printed =
      (v6 ? "[" + a->host + "]" : a->host) + ":" + std::to_string(a->port);
  const std::optional<ListenAddress> again = parse_listen(printed);
  FUZZ_CHECK(again.has_value(), a->port);
  FUZZ_CHECK(again->host == a->host && again->port == a->port, a->port);
  FUZZ_CHECK(again->loopback == a->loopback, a->loopback);
}

// An allowed origin is kept in the one form a browser sends, which is taken as itself.
void check_origin(const std::string& text) {
  const std::optional<std::string> origin = parse_origin(text);
  if (!origin) return;
  FUZZ_CHECK(!has_upper(*origin), origin->size());
  FUZZ_CHECK(origin->rfind("http://", 0) == 0 || origin->rfind("https://", 0) == 0, origin->size());
  FUZZ_CHECK(parse_origin(*origin) == origin, origin->size());
}

// An allowed host name is taken as itself, and a Host header naming it with the service's port
// (or with none, for port 80) is answered.
void check_host_name(const std::string& text, int port) {
  const std::optional<std::string> host = parse_host_name(text);
  if (!host) return;
  FUZZ_CHECK(!host->empty() && !has_upper(*host), host->size());
  FUZZ_CHECK(parse_host_name(*host) == host, host->size());
  const std::vector<std::string> extra = {*host};
  FUZZ_CHECK(host_allowed(*host + ":" + std::to_string(port), port, extra), port);
  FUZZ_CHECK(host_allowed(*host, 80, extra), port);
  // Another port is another service.
  FUZZ_CHECK(!host_allowed(*host + ":" + std::to_string(port), port == 1 ? 2 : 1, extra), port);
}

// The request head as the service's sessions parse it; false when they would not get this far.
bool parse_request(const std::string& raw, Request* req) {
  http::request_parser<http::string_body> parser;
  parser.header_limit(kHeaderLimit);
  parser.body_limit(kBodyLimit);
  parser.eager(true);
  std::size_t used = 0;
  while (used < raw.size() && !parser.is_done()) {
    beast::error_code ec;
    const std::size_t n = parser.put(net::buffer(raw.data() + used, raw.size() - used), ec);
    if (ec == http::error::need_more && n == 0) {
      parser.put_eof(ec);
      break;
    }
    if (ec && ec != http::error::need_more) return false;
    used += n;
  }
  if (!parser.is_done()) return false;
  *req = parser.release();
  return true;
}

void check_request(const std::string& raw, const Callers& callers) {
  Request req;
  if (!parse_request(raw, &req)) return;
  const Verdict v = check_caller(req, callers);
  if (!v.ok) {
    FUZZ_CHECK(*v.kind != '\0' && !v.message.empty(), static_cast<int>(v.status));
    const unsigned status = static_cast<unsigned>(v.status);
    FUZZ_CHECK(status >= 400 && status < 500, status);
    FUZZ_CHECK(v.allow_origin.empty(), status);
    return;
  }
  // Answered: one Host naming this service, and a cross-origin caller only when it is allowed.
  FUZZ_CHECK(req.count(http::field::host) == 1, req.count(http::field::host));
  FUZZ_CHECK(host_allowed(std::string(req[http::field::host]), callers.port, callers.hosts), 0);
  if (!v.allow_origin.empty()) {
    FUZZ_CHECK(callers.origins.count(v.allow_origin) == 1, 0);
    FUZZ_CHECK(std::string(req[http::field::origin]) == v.allow_origin, 0);
  }
  if (req.count(http::field::origin) == 1) {
    const std::string origin(req[http::field::origin]);
    FUZZ_CHECK(callers.origins.count(origin) + callers.own_origins.count(origin) >= 1, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int port = in.ConsumeIntegralInRange<int>(1, 65535);
  const std::string text = in.ConsumeRandomLengthString(512);
  check_listen(text);
  check_origin(text);
  check_host_name(text, port);

  // The callers as the service sets them up from its options.
  Callers callers;
  callers.port = port;
  for (int i = 0; i < 2; ++i) {
    if (const auto host = parse_host_name(in.ConsumeRandomLengthString(128)))
      callers.hosts.push_back(*host);
  }
  for (int i = 0; i < 2; ++i) {
    if (const auto origin = parse_origin(in.ConsumeRandomLengthString(128)))
      callers.origins.insert(*origin);
  }
  const std::vector<std::string>& hosts = callers.hosts;
  for (const std::vector<std::string>* names : {&loopback_hosts(), &hosts}) {
    for (const std::string& host : *names)
      callers.own_origins.insert("http://" + host + ":" + std::to_string(port));
  }
  check_request(in.ConsumeRemainingBytesAsString(), callers);
  return 0;
}
