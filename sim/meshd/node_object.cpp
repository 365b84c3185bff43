#include "meshd/node_object.h"

namespace sim::meshd {

NodeObject::NodeObject(sdbus::IConnection& connection, std::string path, std::uint64_t token, DaemonCalls& daemon)
    : AdaptorInterfaces(connection, std::move(path)), token_(token), daemon_(daemon) {
  registerAdaptor();
}

NodeObject::~NodeObject() { unregisterAdaptor(); }

std::string NodeObject::Sender() const {
  const sdbus::Message* message = getObject().getCurrentlyProcessedMessage();
  return message != nullptr ? message->getSender() : std::string{};
}

void NodeObject::Send(const sdbus::ObjectPath& element_path, const uint16_t& destination, const uint16_t& key_index,
                      const std::map<std::string, sdbus::Variant>& options, const std::vector<uint8_t>& data) {
  daemon_.Send(token_, Sender(), SendRequest{element_path, destination, key_index, false, options, data});
}

void NodeObject::DevKeySend(const sdbus::ObjectPath& element_path, const uint16_t& destination, const bool& remote,
                            const uint16_t& net_index, const std::map<std::string, sdbus::Variant>& options,
                            const std::vector<uint8_t>& data) {
  daemon_.DevKeySend(token_, Sender(), SendRequest{element_path, destination, net_index, remote, options, data});
}

void NodeObject::ImportRemoteNode(const uint16_t& primary, const uint8_t& count, const std::vector<uint8_t>& device_key) {
  daemon_.ImportRemoteNode(token_, Sender(), primary, count, device_key);
}

}  // namespace sim::meshd
