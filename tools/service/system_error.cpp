#include "tools/service/system_error.h"

#include <cerrno>
#include <utility>

#include "tools/service/http.h"

namespace idcard {

std::string error_words(const boost::system::error_code& ec) {
  // Asio's codes are errno values on POSIX systems and Winsock's on Windows.
  static const std::pair<net::error::basic_errors, const char*> kWords[] = {
      {net::error::access_denied, "Permission denied"},
      {net::error::address_family_not_supported, "Address family not supported by protocol"},
      {net::error::address_in_use, "Address already in use"},
      {net::error::connection_aborted, "Software caused connection abort"},
      {net::error::connection_refused, "Connection refused"},
      {net::error::connection_reset, "Connection reset by peer"},
      {net::error::host_unreachable, "No route to host"},
      {net::error::invalid_argument, "Invalid argument"},
      {net::error::network_down, "Network is down"},
      {net::error::network_unreachable, "Network is unreachable"},
      {net::error::no_buffer_space, "No buffer space available"},
      {net::error::no_descriptors, "Too many open files"},
      {net::error::not_connected, "Transport endpoint is not connected"},
      {net::error::shut_down, "Cannot send after transport endpoint shutdown"},
      {net::error::timed_out, "Connection timed out"},
  };
  for (const auto& [code, words] : kWords) {
    if (ec == code) return words;
  }
  // Cannot-assign-address has no name among Asio's basic errors.
#if defined(_WIN32)
  if (ec.category() == boost::system::system_category() && ec.value() == WSAEADDRNOTAVAIL)
#else
  if (ec.category() == boost::system::system_category() && ec.value() == EADDRNOTAVAIL)
#endif
    return "Cannot assign requested address";
  return ec.message();
}

}  // namespace idcard
