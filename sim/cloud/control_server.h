#pragma once

#include <memory>
#include <string>

#include "cloud/control_api.h"
#include "cloud/net.h"

namespace sim::cloud {

// Serves the control interface as plain HTTP on a local (unix) socket, one request
// per connection.
class ControlServer : public std::enable_shared_from_this<ControlServer> {
 public:
  ControlServer(net::io_context& io, ControlApi& api, std::string socket_path);
  ~ControlServer();

  void Open();  // throws when the socket cannot be bound

 private:
  void Accept();

  ControlApi& api_;
  std::string socket_path_;
  net::local::stream_protocol::acceptor acceptor_;
};

}  // namespace sim::cloud
