// One client connection: requests in turn, each answered before the next is read (pipelined ones
// included, in order), or, once it asked for the events, the event stream.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "tools/service/events.h"
#include "tools/service/http.h"
#include "tools/service/service.h"

namespace idcard {

class Session : public EventStream, public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, Service::Impl& service);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void start() { read_request(); }

  // Sends a response (only its head for a HEAD); the connection goes on reading requests unless
  // it is to close.
  void reply(Response res, const RequestInfo& info);
  // Answers with the head of an event stream, for which the event hub admitted this session, and
  // keeps the connection for events.
  void open_stream(http::response<http::empty_body> head, const RequestInfo& info);
  void send_event(const std::string& text) override;
  void close() override;

 private:
  void read_request();
  void on_request(beast::error_code ec);
  void refuse_malformed(beast::error_code ec);
  void watch_for_close();
  void write_event();

  beast::tcp_stream stream_;
  Service::Impl& service_;
  // Kept from one request to the next: it may hold the start of the next, pipelined, request.
  beast::flat_buffer buffer_{kHeaderLimit + kBodyLimit};
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Response> response_;
  unsigned requests_ = 0;
  bool closed_ = false;
  // The event stream.
  enum class Stream { None, Admitted, Open } stream_state_ = Stream::None;
  bool writing_ = false;
  std::optional<http::response<http::empty_body>> head_;
  std::optional<http::response_serializer<http::empty_body>> serializer_;
  std::deque<std::string> pending_;
  char drain_[256];
};

}  // namespace idcard
