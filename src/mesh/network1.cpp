#include "mesh/network1.h"

#include <utility>

#include "mesh/mesh_names.h"

namespace org::bluez::mesh {

Network1::Network1(sdbus::IConnection& connection)
    : ProxyInterfaces(connection, mesh_names::kDaemonService, mesh_names::kNetworkPath) {
  registerProxy();
}

Network1::~Network1() { unregisterProxy(); }

void Network1::ImportAsync(const sdbus::ObjectPath& app_root, const std::vector<std::uint8_t>& uuid,
                           const std::vector<std::uint8_t>& dev_key, const std::vector<std::uint8_t>& net_key,
                           std::uint16_t net_index, const std::map<std::string, sdbus::Variant>& flags,
                           std::uint32_t iv_index, std::uint16_t unicast, ImportReply on_reply) {
  getProxy()
      .callMethodAsync("Import")
      .onInterface(INTERFACE_NAME)
      .withArguments(app_root, uuid, dev_key, net_key, net_index, flags, iv_index, unicast)
      .uponReplyInvoke(std::move(on_reply));
}

void Network1::AttachAsync(const sdbus::ObjectPath& app_root, std::uint64_t token, AttachReply on_reply) {
  getProxy()
      .callMethodAsync("Attach")
      .onInterface(INTERFACE_NAME)
      .withArguments(app_root, token)
      .uponReplyInvoke(std::move(on_reply));
}

std::pair<sdbus::ObjectPath, NodeConfiguration> Network1::AttachWithin(const sdbus::ObjectPath& app_root,
                                                                       std::uint64_t token,
                                                                       std::chrono::milliseconds timeout) {
  std::pair<sdbus::ObjectPath, NodeConfiguration> reply;
  getProxy()
      .callMethod("Attach")
      .onInterface(INTERFACE_NAME)
      .withTimeout(timeout)
      .withArguments(app_root, token)
      .storeResultsTo(reply.first, reply.second);
  return reply;
}

}  // namespace org::bluez::mesh
