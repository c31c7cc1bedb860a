#include "tools/service/listener.h"

#include <memory>

#include "tools/service/session.h"
#include "tools/service/state.h"
#include "tools/service/system_error.h"

namespace idcard {

bool bind_listener(Service::Impl& s, const ListenAddress& address, std::string* error) {
  boost::system::error_code ec;
  const tcp::endpoint endpoint(net::ip::make_address(address.host, ec),
                               static_cast<unsigned short>(address.port));
  s.acceptor.open(endpoint.protocol(), ec);
#if defined(_WIN32)
  // No other program may bind the same port beside this one and take its clients.
  using exclusive = net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  if (!ec) s.acceptor.set_option(exclusive(true), ec);
#else
  if (!ec) s.acceptor.set_option(net::socket_base::reuse_address(true), ec);
#endif
  if (!ec) s.acceptor.bind(endpoint, ec);
  if (!ec) s.acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) *error = "cannot listen on " + s.options.listen + ": " + error_words(ec);
  return !ec;
}

void accept_connections(Service::Impl& s) {
  s.acceptor.async_accept([&s](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !s.acceptor.is_open()) return;
    if (!ec) {
      if (s.sessions.size() >= kMaxConnections) {
        beast::error_code ignored;
        socket.close(ignored);  // too many at once: refused before anything is read
      } else {
        // Answers and events go out at once, not held back until the client acknowledges the
        // previous segment.
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Session>(std::move(socket), s)->start();
      }
    }
    accept_connections(s);
  });
}

}  // namespace idcard
