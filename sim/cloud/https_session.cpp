#include "cloud/https_session.h"

#include <chrono>
#include <algorithm>
#include <iostream>
#include <sstream>

#include "cloud/channel_session.h"
#include "cloud/recorded_request.h"

namespace sim::cloud {
namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(120);
const std::string kChannelPath = "/cable";

// The header of a file answer that announces the whole body, as text.
std::string HeadOf(const Answer& answer, unsigned version) {
  http::response<http::empty_body> head{static_cast<http::status>(answer.status), version};
  head.set(http::field::server, "quellaron-cloud-standin");
  head.set(http::field::content_type, answer.content_type);
  head.content_length(answer.body.size());
  std::ostringstream text;
  text << head.base();
  return text.str();
}

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

void HttpsSession::Answer(const sim::cloud::Answer& answer, unsigned version, bool keep_alive) {
  if (answer.drop) {
    beast::get_lowest_layer(stream_).close();
    return;
  }
  if (answer.stall_after || answer.truncate_at) {
    WritePartial(answer, version);
    return;
  }
  if (answer.trickle_bytes > 0) {
    WriteTrickle(answer, version);
    return;
  }
  response_ = {};
  response_.version(version);
  response_.result(static_cast<unsigned>(answer.status));
  response_.set(http::field::server, "quellaron-cloud-standin");
  response_.set(http::field::content_type, answer.content_type);
  if (!answer.location.empty()) response_.set(http::field::location, answer.location);
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

void HttpsSession::WritePartial(const sim::cloud::Answer& answer, unsigned version) {
  const std::size_t sent = std::min(answer.body.size(), answer.truncate_at ? *answer.truncate_at : *answer.stall_after);
  partial_ = HeadOf(answer, version) + answer.body.substr(0, sent);
  beast::get_lowest_layer(stream_).expires_never();
  net::async_write(stream_, net::buffer(partial_),
                   [self = shared_from_this(), truncate = answer.truncate_at.has_value(),
                    limit = answer.stall_for](beast::error_code error, std::size_t) {
                     if (error || truncate) {
                       beast::get_lowest_layer(self->stream_).close();  // no TLS close: the body ends short
                       return;
                     }
                     self->Stall(limit);
                   });
}

void HttpsSession::WriteTrickle(const sim::cloud::Answer& answer, unsigned version) {
  trickle_ = Trickle{answer.body, 0, answer.trickle_bytes, answer.trickle_every};
  partial_ = HeadOf(answer, version);
  beast::get_lowest_layer(stream_).expires_never();
  net::async_write(stream_, net::buffer(partial_), [self = shared_from_this()](beast::error_code error, std::size_t) {
    if (error) {
      beast::get_lowest_layer(self->stream_).close();
      return;
    }
    self->TrickleNext();
  });
}

void HttpsSession::TrickleNext() {
  if (trickle_.sent >= trickle_.body.size()) {
    Read();
    return;
  }
  partial_ = trickle_.body.substr(trickle_.sent, trickle_.bytes);
  trickle_.sent += partial_.size();
  net::async_write(stream_, net::buffer(partial_), [self = shared_from_this()](beast::error_code error, std::size_t) {
    if (error) {  // the client left
      beast::get_lowest_layer(self->stream_).close();
      return;
    }
    self->delay_.expires_after(self->trickle_.every);
    self->delay_.async_wait([self](beast::error_code wait_error) {
      if (!wait_error) self->TrickleNext();
    });
  });
}

void HttpsSession::Stall(std::chrono::milliseconds limit) {
  delay_.expires_after(limit);
  delay_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (!error) beast::get_lowest_layer(self->stream_).close();
  });
  stream_.async_read_some(net::buffer(probe_), [self = shared_from_this()](beast::error_code, std::size_t) {
    self->delay_.cancel();
    beast::get_lowest_layer(self->stream_).close();
  });
}

void HttpsSession::Shutdown() {
  beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(5));
  stream_.async_shutdown([self = shared_from_this()](beast::error_code) {});
}

}  // namespace sim::cloud
