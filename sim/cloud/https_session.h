#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "cloud/cloud_hub.h"
#include "cloud/net.h"

namespace sim::cloud {

// One TLS connection: HTTP requests answered from the hub, or an upgrade to the
// channel endpoint handed to a ChannelSession.
class HttpsSession : public std::enable_shared_from_this<HttpsSession> {
 public:
  HttpsSession(tcp::socket socket, ssl::context& tls, CloudHub& hub);

  void Run();

 private:
  void Read();
  void OnRead(beast::error_code error);
  void Answer(const sim::cloud::Answer& answer, unsigned version, bool keep_alive);
  void Write();
  // Sends the header and the first bytes of a file, then stalls or drops the connection.
  void WritePartial(const sim::cloud::Answer& answer, unsigned version);
  // Sends the header, then the body a few bytes at a time at the answer's pace.
  void WriteTrickle(const sim::cloud::Answer& answer, unsigned version);
  void TrickleNext();
  void Stall(std::chrono::milliseconds limit);
  void Shutdown();

  TlsStream stream_;
  CloudHub& hub_;
  beast::flat_buffer buffer_;
  HttpRequest request_;
  http::response<http::string_body> response_;
  net::steady_timer delay_;
  std::string partial_;      // what WritePartial and WriteTrickle send next
  struct Trickle {
    std::string body;
    std::size_t sent = 0;
    std::size_t bytes = 1;
    std::chrono::milliseconds every{0};
  } trickle_;
  char probe_[64] = {};      // a stalled connection's read, which notices the client leaving
};

}  // namespace sim::cloud
