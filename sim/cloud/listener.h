#pragma once

#include <memory>

#include "cloud/cloud_hub.h"
#include "cloud/net.h"

namespace sim::cloud {

// Accepts TLS connections on one address. Refusing closes the listening socket, so
// connection attempts are refused by the kernel; accepting again reopens it on the
// same port.
class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(net::io_context& io, ssl::context& tls, CloudHub& hub, tcp::endpoint endpoint);

  void Open();  // throws on a bind failure
  void Refuse(bool refuse);
  unsigned short Port() const { return endpoint_.port(); }

 private:
  void Accept();

  net::io_context& io_;
  ssl::context& tls_;
  CloudHub& hub_;
  tcp::endpoint endpoint_;
  tcp::acceptor acceptor_;
};

}  // namespace sim::cloud
