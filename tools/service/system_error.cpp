#include "tools/service/system_error.h"

#include <cerrno>
#include <utility>

#include <boost/asio/error.hpp>

namespace idcard {

std::string error_words(const boost::system::error_code& ec) {
  // Asio's codes are errno values on POSIX systems and Winsock's on Windows.
  namespace error = boost::asio::error;
  static const std::pair<error::basic_errors, const char*> kWords[] = {
      {error::access_denied, "Permission denied"},
      {error::address_family_not_supported, "Address family not supported by protocol"},
      {error::address_in_use, "Address already in use"},
      {error::connection_aborted, "Software caused connection abort"},
      {error::connection_refused, "Connection refused"},
      {error::connection_reset, "Connection reset by peer"},
      {error::host_unreachable, "No route to host"},
      {error::invalid_argument, "Invalid argument"},
      {error::network_down, "Network is down"},
      {error::network_unreachable, "Network is unreachable"},
      {error::no_buffer_space, "No buffer space available"},
      {error::no_descriptors, "Too many open files"},
      {error::not_connected, "Transport endpoint is not connected"},
      {error::shut_down, "Cannot send after transport endpoint shutdown"},
      {error::timed_out, "Connection timed out"},
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
