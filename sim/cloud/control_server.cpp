#include "cloud/control_server.h"

#include <unistd.h>

namespace sim::cloud {
namespace {

using LocalSocket = net::local::stream_protocol::socket;

// Reads one request, answers it and closes.
class ControlSession : public std::enable_shared_from_this<ControlSession> {
 public:
  ControlSession(LocalSocket socket, ControlApi& api) : socket_(std::move(socket)), api_(api) {}

  void Run() {
    http::async_read(socket_, buffer_, request_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (!error) self->Answer();
    });
  }

 private:
  void Answer() {
    const auto reply =
        api_.Handle(std::string(request_.method_string()), std::string(request_.target()), request_.body());
    response_.version(request_.version());
    response_.result(static_cast<unsigned>(reply.status));
    response_.set(http::field::content_type, "application/json");
    response_.keep_alive(false);
    response_.body() = reply.body;
    response_.prepare_payload();
    http::async_write(socket_, response_, [self = shared_from_this()](beast::error_code, std::size_t) {
      beast::error_code ignored;
      self->socket_.shutdown(LocalSocket::shutdown_both, ignored);
    });
  }

  LocalSocket socket_;
  ControlApi& api_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> request_;
  http::response<http::string_body> response_;
};

}  // namespace

ControlServer::ControlServer(net::io_context& io, ControlApi& api, std::string socket_path)
    : api_(api), socket_path_(std::move(socket_path)), acceptor_(io) {}

ControlServer::~ControlServer() {
  if (acceptor_.is_open()) ::unlink(socket_path_.c_str());
}

void ControlServer::Open() {
  ::unlink(socket_path_.c_str());
  const net::local::stream_protocol::endpoint endpoint(socket_path_);
  acceptor_.open(endpoint.protocol());
  acceptor_.bind(endpoint);
  acceptor_.listen();
  Accept();
}

void ControlServer::Accept() {
  acceptor_.async_accept([self = shared_from_this()](beast::error_code error, LocalSocket socket) {
    if (error) return;
    std::make_shared<ControlSession>(std::move(socket), self->api_)->Run();
    self->Accept();
  });
}

}  // namespace sim::cloud
