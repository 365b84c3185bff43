#include "cloud/https_session.h"

#include <chrono>
#include <iostream>

#include "cloud/channel_session.h"
#include "cloud/recorded_request.h"

namespace sim_cloud {
namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(120);
const std::string kChannelPath = "/cable";

}  // namespace

HttpsSession::HttpsSession(tcp::socket socket, ssl::context& tls, CloudHub& hub)
    : stream_(std::move(socket), tls), hub_(hub), delay_(stream_.get_executor()) {}

void HttpsSession::Run() {
  beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
  stream_.async_handshake(ssl::stream_base::server, [self = shared_from_this()](beast::error_code error) {
    if (error) {
      std::cout << "TLS handshake failed: " << error.message() << std::endl;
      return;
    }
    self->Read();
  });
}

void HttpsSession::Read() {
  request_ = {};
  beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
  http::async_read(stream_, buffer_, request_, [self = shared_from_this()](beast::error_code error, std::size_t) {
    self->OnRead(error);
  });
}

void HttpsSession::OnRead(beast::error_code error) {
  if (error == http::error::end_of_stream) {
    Shutdown();
    return;
  }
  if (error) return;
  if (websocket::is_upgrade(request_) && PathOf(std::string(request_.target())) == kChannelPath) {
    std::make_shared<ChannelSession>(std::move(stream_), hub_)->Run(std::move(request_));
    return;
  }
  const auto answer = hub_.State().Handle(Record(request_, stream_));
  std::cout << request_.method_string() << " " << request_.target() << " -> "
            << (answer.drop ? std::string("dropped") : std::to_string(answer.status))
            << (answer.delay.count() > 0 ? " after " + std::to_string(answer.delay.count()) + " ms" : "")
            << std::endl;
  if (answer.delay.count() == 0) {
    Answer(answer, request_.version(), request_.keep_alive());
    return;
  }
  beast::get_lowest_layer(stream_).expires_never();
  delay_.expires_after(answer.delay);
  delay_.async_wait([self = shared_from_this(), answer, version = request_.version(),
                     keep_alive = request_.keep_alive()](beast::error_code wait_error) {
    if (!wait_error) self->Answer(answer, version, keep_alive);
  });
}

void HttpsSession::Answer(const sim_cloud::Answer& answer, unsigned version, bool keep_alive) {
  if (answer.drop) {
    beast::get_lowest_layer(stream_).close();
    return;
  }
  response_ = {};
  response_.version(version);
  response_.result(static_cast<unsigned>(answer.status));
  response_.set(http::field::server, "quellaron-cloud-standin");
  response_.set(http::field::content_type, answer.content_type);
  response_.keep_alive(keep_alive);
  response_.body() = answer.body;
  response_.prepare_payload();
  Write();
}

void HttpsSession::Write() {
  beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
  http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code error, std::size_t) {
    if (error) return;
    if (self->response_.need_eof()) {
      self->Shutdown();
    } else {
      self->Read();
    }
  });
}

void HttpsSession::Shutdown() {
  beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(5));
  stream_.async_shutdown([self = shared_from_this()](beast::error_code) {});
}

}  // namespace sim_cloud
