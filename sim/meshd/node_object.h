#pragma once

#include <cstdint>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "management1_adaptor.h"
#include "node1_adaptor.h"
#include "meshd/daemon_calls.h"

namespace sim::meshd {

// An attached node's object ("/org/bluez/mesh/node<uuid>"): org.bluez.mesh.Node1 and
// org.bluez.mesh.Management1, present while an application is attached to the node.
class NodeObject : public sdbus::AdaptorInterfaces<org::bluez::mesh::Node1_adaptor,
                                                   org::bluez::mesh::Management1_adaptor> {
 public:
  NodeObject(sdbus::IConnection& connection, std::string path, std::uint64_t token, DaemonCalls& daemon);
  virtual ~NodeObject();
  NodeObject(const NodeObject&) = delete;
  NodeObject& operator=(const NodeObject&) = delete;

 private:
  void Send(const sdbus::ObjectPath& element_path, const uint16_t& destination, const uint16_t& key_index,
            const std::map<std::string, sdbus::Variant>& options, const std::vector<uint8_t>& data) override;
  void DevKeySend(const sdbus::ObjectPath& element_path, const uint16_t& destination, const bool& remote,
                  const uint16_t& net_index, const std::map<std::string, sdbus::Variant>& options,
                  const std::vector<uint8_t>& data) override;
  void ImportRemoteNode(const uint16_t& primary, const uint8_t& count, const std::vector<uint8_t>& device_key) override;
  std::string Sender() const;

  std::uint64_t token_;
  DaemonCalls& daemon_;
};

}  // namespace sim::meshd
