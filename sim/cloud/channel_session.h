#pragma once

#include <deque>
#include <memory>
#include <string>

#include "cloud/cloud_hub.h"
#include "cloud/net.h"

namespace sim::cloud {

// One connection on the channel endpoint: welcome on accept, a ping every interval,
// answers to subscriptions, pushes on command.
class ChannelSession : public ChannelPeer, public std::enable_shared_from_this<ChannelSession> {
 public:
  ChannelSession(TlsStream stream, CloudHub& hub);

  void Run(HttpRequest upgrade);

  void Send(const std::string& text) override;
  void Drop() override;
  void Close() override;

 private:
  void OnAccept(beast::error_code error);
  void Read();
  void OnRead(beast::error_code error);
  void Write();
  void SchedulePing();
  void Closed();

  websocket::stream<TlsStream> socket_;
  CloudHub& hub_;
  beast::flat_buffer buffer_;
  std::deque<std::string> outbox_;
  net::steady_timer ping_timer_;
  HttpRequest upgrade_;
  int id_ = 0;
  bool open_ = false;
};

}  // namespace sim::cloud
