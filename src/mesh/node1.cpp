#include "mesh/node1.h"

#include <utility>

#include "mesh/mesh_names.h"

namespace org::bluez::mesh {

Node1::Node1(sdbus::IConnection& connection, const std::string& node_path)
    : ProxyInterfaces(connection, mesh_names::kDaemonService, node_path) {
  registerProxy();
}

Node1::~Node1() { unregisterProxy(); }

void Node1::DevKeySendAsync(const sdbus::ObjectPath& element_path, std::uint16_t destination, bool remote,
                            std::uint16_t net_index, const std::map<std::string, sdbus::Variant>& options,
                            const std::vector<std::uint8_t>& data, SendReply on_reply) {
  getProxy()
      .callMethodAsync("DevKeySend")
      .onInterface(INTERFACE_NAME)
      .withArguments(element_path, destination, remote, net_index, options, data)
      .uponReplyInvoke(std::move(on_reply));
}

}  // namespace org::bluez::mesh
