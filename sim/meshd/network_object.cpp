#include "meshd/network_object.h"

namespace sim::meshd {

NetworkObject::NetworkObject(sdbus::IConnection& connection, DaemonCalls& daemon)
    : AdaptorInterfaces(connection, kPath), daemon_(daemon) {
  registerAdaptor();
}

NetworkObject::~NetworkObject() { unregisterAdaptor(); }

std::string NetworkObject::Sender() const {
  const sdbus::Message* message = getObject().getCurrentlyProcessedMessage();
  return message != nullptr ? message->getSender() : std::string{};
}

void NetworkObject::Import(sdbus::Result<>&& result, sdbus::ObjectPath app_root, std::vector<uint8_t> uuid,
                           std::vector<uint8_t> dev_key, std::vector<uint8_t> net_key, uint16_t net_index,
                           std::map<std::string, sdbus::Variant> flags, uint32_t iv_index, uint16_t unicast) {
  ImportRequest request{std::move(app_root), std::move(uuid), std::move(dev_key), std::move(net_key), net_index,
                        std::move(flags), iv_index, unicast};
  daemon_.Import(std::make_shared<sdbus::Result<>>(std::move(result)), Sender(), std::move(request));
}

void NetworkObject::Attach(sdbus::Result<sdbus::ObjectPath, AttachConfiguration>&& result, sdbus::ObjectPath app_root,
                           uint64_t token) {
  daemon_.Attach(std::make_shared<sdbus::Result<sdbus::ObjectPath, AttachConfiguration>>(std::move(result)), Sender(),
                 app_root, token);
}

}  // namespace sim::meshd
