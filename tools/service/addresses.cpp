#include "tools/service/addresses.h"

#include <initializer_list>
#include <string_view>

#include <boost/asio/ip/address.hpp>

namespace idcard {

namespace {

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

bool dns_name(const std::string& host) {
  for (char c : host) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-')) return false;
  }
  return !host.empty() && host.front() != '.' && host.front() != '-';
}

}  // namespace

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
  const boost::asio::ip::address address = boost::asio::ip::make_address(host, ec);
  if (ec) return std::nullopt;  // a name other than localhost would need a resolver: not taken
  a.host = host;
  a.loopback = address.is_loopback();
  return a;
}

std::optional<std::string> parse_host_name(const std::string& text) {
  std::string host = lower(text);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  boost::system::error_code ec;
  const boost::asio::ip::address address = boost::asio::ip::make_address(host, ec);
  if (!ec && address.is_unspecified()) return std::nullopt;  // a wildcard names no host
  if (!ec && !address.is_v6()) return address.to_string();
  if (!ec) return std::string(1, '[').append(address.to_string()).append(1, ']');
  if (!dns_name(host)) return std::nullopt;
  return host;
}

std::optional<std::string> parse_origin(const std::string& text) {
  const std::string origin = lower(text);
  std::string scheme, rest;
  for (const char* s : {"http", "https"}) {
    if (origin.rfind(std::string(s) + "://", 0) == 0) {
      scheme = s;
      rest = origin.substr(scheme.size() + 3);
    }
  }
  std::string host;
  int port = 0;
  if (rest.empty() || !split_host_port(rest, &host, &port) || port == 0) return std::nullopt;
  const std::optional<std::string> name = parse_host_name(host);
  // An IPv6 origin keeps its brackets; a bare one had none to begin with.
  if (!name || (name->front() == '[') != (host.front() == '[')) return std::nullopt;
  const int default_port = scheme == "http" ? 80 : 443;
  const bool show_port = port != -2 && port != default_port;
  std::string canonical = scheme + "://" + *name;
  if (show_port) canonical.append(1, ':').append(std::to_string(port));
  return canonical;
}

std::string bad_listen(const std::string& text) {
  return "bad listen address '" + text +
         "' (HOST:PORT, an IP address or localhost and a port 0 to 65535)";
}

std::string bad_origin(const std::string& text) {
  return "bad origin '" + text + "' (scheme://host[:port], no wildcard, no path)";
}

std::string bad_host_name(const std::string& text) {
  return "bad host name '" + text + "' (a host name or address, no port, no wildcard)";
}

std::string not_loopback(const ListenAddress& address) {
  return address.host + " is not a loopback address: add --allow-non-loopback to listen there";
}

const std::vector<std::string>& loopback_hosts() {
  static const std::vector<std::string> hosts = {"127.0.0.1", "localhost", "[::1]"};
  return hosts;
}

bool host_allowed(const std::string& header, int port, const std::vector<std::string>& extra_hosts) {
  std::string host;
  int given = 0;
  if (!split_host_port(header, &host, &given)) return false;
  if (given == -2) given = 80;
  if (given != port) return false;
  host = lower(host);
  for (const std::vector<std::string>* names : std::initializer_list<const std::vector<std::string>*>{&loopback_hosts(), &extra_hosts}) {
    for (const std::string& name : *names) {
      if (host == name) return true;
    }
  }
  return false;
}

}  // namespace idcard
