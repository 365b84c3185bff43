#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "meshnodes/node_identity.h"

namespace sim::meshnodes {

// The D-Bus application of one simulated node, as a node's firmware on a BlueZ host would
// export it: an object manager at its root, Application1, and one Element1 with the sensor
// vendor model (0x05F1/0x0001, subscribable). What the mesh daemon calls on it goes to the
// handlers, on the connection's event loop: they must not block.
class NodeApp {
 public:
  struct Handlers {
    std::function<void(std::uint64_t token)> join_complete;
    std::function<void(const std::string& reason)> join_failed;
    std::function<void(std::uint16_t source, const Bytes& data)> message;          // application key
    std::function<void(std::uint16_t source, const Bytes& data)> device_key_message;
  };

  NodeApp(sdbus::IConnection& connection, const NodeIdentity& identity, Handlers handlers);
  ~NodeApp();
  NodeApp(const NodeApp&) = delete;
  NodeApp& operator=(const NodeApp&) = delete;

 private:
  class Root;
  class Application;
  class Element;

  const Handlers handlers_;
  std::unique_ptr<Root> root_;
  std::unique_ptr<Application> application_;
  std::unique_ptr<Element> element_;
};

}  // namespace sim::meshnodes
