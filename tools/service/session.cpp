#include "tools/service/session.h"

#include "tools/service/routes.h"
#include "tools/service/state.h"

namespace idcard {

namespace {
constexpr std::size_t kStreamBacklog = 64;  // events waiting for a slow stream before it is closed
}  // namespace

Session::Session(tcp::socket socket, Service::Impl& service)
    : stream_(std::move(socket)), service_(service) {
  service_.sessions.insert(this);
}

Session::~Session() { service_.sessions.erase(this); }

void Session::reply(Response res, const RequestInfo& info) {
  service_.log(info, res.result_int());
  if (++requests_ >= kRequestsPerConnection || service_.stopping) res.keep_alive(false);
  res.prepare_payload();
  if (info.head) {
    // The head of the same response: its length, without the body.
    const std::size_t length = res.body().size();
    res.body().clear();
    res.content_length(length);
  }
  response_ = std::make_shared<Response>(std::move(res));
  stream_.expires_after(kWriteTime);
  http::async_write(stream_, *response_,
                    [self = shared_from_this()](beast::error_code ec, std::size_t) {
                      const bool close = !self->response_->keep_alive();
                      self->response_.reset();
                      if (ec || close || self->closed_) return self->close();
                      self->read_request();
                    });
}

void Session::open_stream(http::response<http::empty_body> head, const RequestInfo& info) {
  service_.log(info, head.result_int());
  stream_state_ = Stream::Admitted;
  head_ = std::move(head);
  serializer_.emplace(*head_);
  stream_.expires_after(kWriteTime);
  http::async_write_header(stream_, *serializer_,
                           [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec || self->closed_) return self->close();
                             self->stream_.expires_never();
                             self->stream_state_ = Stream::Open;
                             self->watch_for_close();
                             self->service_.events.subscribe(self);
                           });
}

void Session::send_event(const std::string& text) {
  if (closed_) return;
  if (pending_.size() >= kStreamBacklog) return close();  // a client that does not read
  pending_.push_back(text);
  if (!writing_) write_event();
}

void Session::close() {
  if (closed_) return;
  closed_ = true;
  if (stream_state_ == Stream::Open) service_.events.unsubscribe(shared_from_this());
  if (stream_state_ == Stream::Admitted) service_.events.release();
  stream_state_ = Stream::None;
  beast::error_code ec;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
  stream_.close();
}

void Session::read_request() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  parser_->body_limit(kBodyLimit);
  stream_.expires_after(kRequestTime);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_request(ec); });
}

void Session::on_request(beast::error_code ec) {
  if (closed_) return;
  if (ec == http::error::end_of_stream || ec == beast::error::timeout) return close();
  if (ec.category() == http::make_error_code(http::error::bad_method).category())
    return refuse_malformed(ec);
  if (ec) return close();
  route(service_.rooms, parser_->release(), shared_from_this());
}

// Not HTTP, or more than the limits allow: said once, and the connection closes.
void Session::refuse_malformed(beast::error_code ec) {
  const bool big_head = ec == http::error::header_limit || ec == http::error::buffer_overflow;
  const bool big_body = ec == http::error::body_limit;
  RequestInfo info;
  info.method = "-";
  info.path = "(malformed request)";
  Response res = response(info, big_head   ? http::status::request_header_fields_too_large
                                : big_body ? http::status::payload_too_large
                                           : http::status::bad_request,
                          "");
  set_error(res, big_head || big_body ? "too_large" : "malformed", ec.message());
  reply(std::move(res), info);
}

// While streaming, the client sends nothing more; a read that ends means it went away.
void Session::watch_for_close() {
  stream_.async_read_some(net::buffer(drain_),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                            if (ec) return self->close();
                            self->watch_for_close();
                          });
}

void Session::write_event() {
  writing_ = true;
  stream_.expires_after(kWriteTime);
  net::async_write(stream_, net::buffer(pending_.front()),
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     self->writing_ = false;
                     if (ec) return self->close();
                     self->pending_.pop_front();
                     if (self->closed_) return;
                     if (!self->pending_.empty()) return self->write_event();
                     self->stream_.expires_never();
                   });
}

}  // namespace idcard
