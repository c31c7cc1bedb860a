// The socket errors the service reports, produced for real on this system: the same words on
// Linux and on Windows, where the system's own text may be only "Unknown error (10048)".
#include "tools/service/system_error.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/service/http.h"

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

TEST(ServeSystemErrors, SocketErrorsReadAsWords) {
  net::io_context ioc;
  tcp::acceptor taken(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
  const tcp::endpoint taken_at = taken.local_endpoint();
  // A port with nothing listening: one that was free a moment ago.
  tcp::endpoint closed_at;
  {
    tcp::acceptor probe(ioc, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    closed_at = probe.local_endpoint();
  }
  struct Case {
    const char* what;
    std::function<void(boost::system::error_code&)> fail;
    const char* words;
  } cases[] = {
      {"a port taken",
       [&](boost::system::error_code& ec) {
         tcp::acceptor second(ioc);
         second.open(tcp::v4(), ec);
         if (!ec) second.bind(taken_at, ec);
       },
       "Address already in use"},
      {"an address not on this machine (TEST-NET-1)",
       [&](boost::system::error_code& ec) {
         tcp::acceptor second(ioc);
         second.open(tcp::v4(), ec);
         if (!ec) second.bind(tcp::endpoint(net::ip::make_address("192.0.2.1"), 0), ec);
       },
       "Cannot assign requested address"},
      {"a port nobody listens on",
       [&](boost::system::error_code& ec) {
         tcp::socket socket(ioc);
         socket.connect(closed_at, ec);
       },
       "Connection refused"},
  };
  for (const Case& c : cases) {
    boost::system::error_code ec;
    c.fail(ec);
    ASSERT_TRUE(ec) << c.what;
    EXPECT_EQ(idcard::error_words(ec), c.words) << c.what << ": " << ec.value() << " " << ec.message();
  }
}

// An error outside the socket errors keeps its category's own text.
TEST(ServeSystemErrors, OtherErrorsKeepTheirOwnText) {
  const boost::system::error_code eof = net::error::eof;
  EXPECT_EQ(idcard::error_words(eof), eof.message());
  EXPECT_FALSE(idcard::error_words(eof).empty());
}

}  // namespace
