// The one check every request passes before any route: a request of a shape the service takes,
// naming this service by a host it answers to, from its own pages, from an allowed origin, or from
// no web site at all. A browser says where a request comes from in Origin and Sec-Fetch-Site; a
// cross-site request without an allowed Origin (an image, a link, a form of another site) is
// refused before anything is read.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/service/http.h"

namespace idcard {

struct Callers {
  int port = 0;
  std::vector<std::string> hosts;  // Host names beside the loopback ones
  std::set<std::string> origins;   // allowed cross-origin callers
  std::set<std::string> own_origins;
};

struct Verdict {
  bool ok = true;
  http::status status = http::status::ok;
  const char* kind = "";  // malformed, too_large, host, origin
  std::string message;
  bool close = false;        // the connection ends with the refusal
  std::string allow_origin;  // for Access-Control-Allow-Origin: an allowed cross-origin caller
};

Verdict check_caller(const Request& req, const Callers& callers);

}  // namespace idcard
