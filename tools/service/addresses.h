// Addresses, host names and origins as the service takes them on its command line and compares
// them with what browsers send.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace idcard {

struct ListenAddress {
  std::string host;  // as given, without the brackets of an IPv6 address
  int port = 0;
  bool loopback = false;
};
// "127.0.0.1:8089", "localhost:0", "[::1]:8089"; nullopt when malformed.
std::optional<ListenAddress> parse_listen(const std::string& text);

// An origin as --allow-origin takes it: http or https, a host, an optional port, nothing else.
// Returned in the form browsers send: scheme and host lower case, the scheme's default port left
// out ("HTTPS://Desk.Example:443" gives "https://desk.example"); nullopt when it is not one (a
// wildcard, a path, ...).
std::optional<std::string> parse_origin(const std::string& text);

// A host name as --allow-host takes it, in the form of a Host header: a DNS name or an IPv4
// address lower case, an IPv6 address in brackets ("FE80::1" gives "[fe80::1]"); nullopt for
// anything else (a port, a wildcard, blanks).
std::optional<std::string> parse_host_name(const std::string& text);

// The refusals, naming the value, of a --listen, --allow-origin or --allow-host value that the
// functions above do not take, and of a non-loopback address without --allow-non-loopback: the
// option parser's and the service's alike.
std::string bad_listen(const std::string& text);
std::string bad_origin(const std::string& text);
std::string bad_host_name(const std::string& text);
std::string not_loopback(const ListenAddress& address);

// The names every service answers to: 127.0.0.1, localhost, [::1].
const std::vector<std::string>& loopback_hosts();

// Whether a Host header names this service: a loopback host or one of `extra_hosts` (in the form
// parse_host_name gives), and the service's port.
bool host_allowed(const std::string& header, int port, const std::vector<std::string>& extra_hosts);

}  // namespace idcard
