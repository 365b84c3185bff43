#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "node1_proxy.h"

namespace org::bluez::mesh {

// The gateway's node in the mesh daemon, at the path Attach returned.
class Node1 : public sdbus::ProxyInterfaces<Node1_proxy> {
 public:
  using SendReply = std::function<void(const sdbus::Error*)>;

  Node1(sdbus::IConnection& connection, const std::string& node_path);
  ~Node1();
  Node1(const Node1&) = delete;
  Node1& operator=(const Node1&) = delete;

  void DevKeySendAsync(const sdbus::ObjectPath& element_path, std::uint16_t destination, bool remote,
                       std::uint16_t net_index, const std::map<std::string, sdbus::Variant>& options,
                       const std::vector<std::uint8_t>& data, SendReply on_reply);
};

}  // namespace org::bluez::mesh
