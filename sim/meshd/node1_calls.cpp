// Node1, as the daemon serves it to the attached application: Send and DevKeySend with the
// daemon's checks; what the node sends to itself is delivered back to its own elements, a
// device-key message through the node's configuration server first.

#include "meshd/call_checks.h"
#include "meshd/mesh_daemon.h"
#include "meshd/sensor_field.h"

namespace sim::meshd {

NodeState& MeshDaemon::OwnedNode(std::uint64_t token, const std::string& sender) {
  const auto found = nodes_.find(token);
  if (found == nodes_.end()) throw MeshError("NotFound");
  const auto attachment = attachments_.find(token);
  if (attachment == attachments_.end() || attachment->second.owner != sender) throw MeshError("NotAuthorized");
  return found->second;
}

void MeshDaemon::Send(std::uint64_t token, const std::string& sender, const SendRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"},        {"member", "Send"},
                        {"sender", sender},      {"token", token},
                        {"element_path", request.element_path}, {"destination", request.destination},
                        {"key_index", request.key_index}, {"options", OptionsJson(request.options)},
                        {"data", ToHex(request.data)}};
  std::vector<Delivery> deliveries;
  std::uint16_t source = 0;
  try {
    NodeState& node = OwnedNode(token, sender);
    const ElementState* element = node.ElementByPath(request.element_path);
    if (element == nullptr) throw MeshError("NotFound", "Element not found");
    if (!ValidSendOptions(request.options)) throw MeshError("InvalidArgs");
    if (request.data.empty() || request.data.size() > kMaxMessageLength) throw MeshError("InvalidArgs", "Incorrect data");
    if (request.key_index & ~0x0FFF) throw MeshError("InvalidArgs", "Invalid key index");
    if (node.app_keys.count(request.key_index) == 0) throw MeshError("InvalidArgs", "Key not found");
    if (request.destination == 0) throw MeshError("Failed");
    // The daemon hands every message it sends to its own models first: the node's elements
    // hear what they send to themselves or to a group they subscribe to.
    source = static_cast<std::uint16_t>(node.unicast + element->index);
    AddAppKeyDeliveries(node, OwnerOf(token), source, request.destination, request.key_index, request.data,
                        deliveries);
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    record_.Add(std::move(record));
    throw;
  }
  record_.Add(std::move(record));
  if (!deliveries.empty()) worker_->Post([this, deliveries] { Deliver(deliveries); });
  if (sensors_) sensors_->Hear(source, request.destination, request.data);
}

void MeshDaemon::DevKeySend(std::uint64_t token, const std::string& sender, const SendRequest& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json record{{"kind", "call"},       {"member", "DevKeySend"},
                        {"sender", sender},     {"token", token},
                        {"element_path", request.element_path}, {"destination", request.destination},
                        {"remote", request.remote}, {"net_index", request.key_index},
                        {"options", OptionsJson(request.options)}, {"data", ToHex(request.data)}};
  Bytes key;
  std::uint16_t source = 0;
  bool local = false;
  try {
    NodeState& node = OwnedNode(token, sender);
    local = node.IsLocal(request.destination);
    // Loopbacks to the node's own servers must use the remote (key ring) device key.
    if (!request.remote && local) throw MeshError("InvalidArgs");
    const ElementState* element = node.ElementByPath(request.element_path);
    if (element == nullptr) throw MeshError("NotFound", "Element not found");
    if (!ValidSendOptions(request.options)) throw MeshError("InvalidArgs");
    if (request.data.empty() || request.data.size() > kMaxMessageLength) throw MeshError("InvalidArgs", "Incorrect data");
    if (request.destination == 0 || request.key_index != node.net_index) throw MeshError("NotFound");
    if (request.remote) {
      const auto remote_key = IsUnicast(request.destination) ? node.RemoteDeviceKey(request.destination) : std::nullopt;
      if (!remote_key) throw MeshError("NotFound");
      key = *remote_key;
    } else {
      key = node.device_key;
    }
    source = static_cast<std::uint16_t>(node.unicast + element->index);
  } catch (const sdbus::Error& error) {
    record["error"] = ErrorJson(error);
    record_.Add(std::move(record));
    throw;
  }
  record_.Add(std::move(record));
  if (local) {
    worker_->Post([this, token, source, destination = request.destination, key, net_index = request.key_index,
                   data = request.data] { Loopback(token, source, destination, key, net_index, data); });
  }
}

// A device-key message the node sent to one of its own elements. It is decrypted with the
// node's device key first (the configuration server's messages), then with the key ring's
// key of the source, as the daemon does; either way the application's element receives what
// the configuration server does not consume.
void MeshDaemon::Loopback(std::uint64_t token, std::uint16_t source, std::uint16_t destination, const Bytes& key,
                          std::uint16_t net_index, const Bytes& data) {
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = nodes_.find(token);
    if (found == nodes_.end()) return;
    NodeState& node = found->second;
    const ElementState* target = node.ElementAt(destination);
    const ElementState* origin = node.ElementAt(source);
    if (target == nullptr || origin == nullptr) return;
    const bool local_key = key == node.device_key;
    const auto source_key = node.RemoteDeviceKey(source);
    if (!local_key && (!source_key || *source_key != key)) {
      record_.Add({{"kind", "dropped"}, {"source", source}, {"destination", destination}, {"data", ToHex(data)},
                   {"reason", "no device key decrypts it"}});
      return;
    }
    const std::string owner = OwnerOf(token);
    ConfigOutcome outcome;
    if (local_key && destination == node.unicast) outcome = HandleConfigRequest(node, data, faults_.config);
    Delivery delivery;
    delivery.member = "DevKeyMessageReceived";
    delivery.index = net_index;
    if (!outcome.consumed) {
      delivery.source = source;
      delivery.remote = !local_key;
      delivery.data = data;
      AddElementDelivery(*target, owner, delivery, deliveries);
    } else {
      state_file_.Save(nodes_);
      for (const auto& update : outcome.updates) {
        const ElementState* element = node.ElementAt(static_cast<std::uint16_t>(node.unicast + update.element_index));
        if (element != nullptr) AddElementDelivery(*element, owner, ConfigurationDelivery(update), deliveries);
      }
      if (!outcome.reply.empty()) {
        // The status goes back with the node's device key: a local message to the requester.
        delivery.source = destination;
        delivery.data = outcome.reply;
        AddElementDelivery(*origin, owner, delivery, deliveries);
      } else {
        record_.Add({{"kind", "withheld"}, {"member", "DevKeyMessageReceived"}, {"request", ToHex(data)}});
      }
    }
  }
  Deliver(deliveries);
}

}  // namespace sim::meshd
