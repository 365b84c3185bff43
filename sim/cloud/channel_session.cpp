#include "cloud/channel_session.h"

#include <chrono>
#include <iostream>

#include "cloud/channel_protocol.h"
#include "cloud/recorded_request.h"

namespace sim::cloud {

ChannelSession::ChannelSession(TlsStream stream, CloudHub& hub)
    : socket_(std::move(stream)), hub_(hub), ping_timer_(socket_.get_executor()) {}

void ChannelSession::Run(HttpRequest upgrade) {
  upgrade_ = std::move(upgrade);
  beast::get_lowest_layer(socket_).expires_never();
  websocket::stream_base::timeout timeouts{};
  timeouts.handshake_timeout = std::chrono::seconds(30);
  timeouts.idle_timeout = websocket::stream_base::none();
  timeouts.keep_alive_pings = false;
  socket_.set_option(timeouts);
  socket_.set_option(websocket::stream_base::decorator(
      [](websocket::response_type& response) { response.set(http::field::server, "quellaron-cloud-standin"); }));
  socket_.async_accept(upgrade_, [self = shared_from_this()](beast::error_code error) { self->OnAccept(error); });
}

void ChannelSession::OnAccept(beast::error_code error) {
  if (error) {
    std::cout << "channel handshake failed: " << error.message() << std::endl;
    return;
  }
  open_ = true;
  id_ = hub_.OpenChannel(weak_from_this(), Record(upgrade_, socket_.next_layer()));
  std::cout << "channel " << id_ << " open: " << upgrade_.target() << std::endl;
  Send(channel::Welcome());
  SchedulePing();
  Read();
}

void ChannelSession::Read() {
  socket_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
    self->OnRead(error);
  });
}

void ChannelSession::OnRead(beast::error_code error) {
  if (error) {
    Closed();
    return;
  }
  const std::string text = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  std::cout << "channel " << id_ << " <- " << text << std::endl;
  hub_.ChannelFrame(id_, text);
  Read();
}

void ChannelSession::Send(const std::string& text) {
  if (!open_) return;
  hub_.ChannelSent(id_, text);
  outbox_.push_back(text);
  if (outbox_.size() == 1) Write();
}

void ChannelSession::Write() {
  socket_.text(true);
  socket_.async_write(net::buffer(outbox_.front()),
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) {
                          self->outbox_.clear();
                          self->Closed();
                          return;
                        }
                        self->outbox_.pop_front();
                        if (!self->outbox_.empty()) self->Write();
                      });
}

void ChannelSession::SchedulePing() {
  ping_timer_.expires_after(hub_.PingInterval());
  ping_timer_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (error || !self->open_) return;
    if (self->hub_.PingsEnabled()) {
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      self->Send(channel::Ping(std::chrono::duration_cast<std::chrono::seconds>(now).count()));
    }
    self->SchedulePing();
  });
}

void ChannelSession::Drop() {
  if (!open_) return;
  std::cout << "channel " << id_ << " dropped" << std::endl;
  Closed();
  beast::get_lowest_layer(socket_).close();
}

void ChannelSession::Close() {
  if (!open_) return;
  std::cout << "channel " << id_ << " closing" << std::endl;
  socket_.async_close(websocket::close_code::going_away, [self = shared_from_this()](beast::error_code) {});
}

void ChannelSession::Closed() {
  if (!open_) return;
  open_ = false;
  ping_timer_.cancel();
  hub_.ChannelClosed(id_);
  std::cout << "channel " << id_ << " closed" << std::endl;
}

}  // namespace sim::cloud
