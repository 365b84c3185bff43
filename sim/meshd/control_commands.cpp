// The daemon's control commands (listed in mesh_daemon.h): its state, its record, scripted
// faults, forgotten nodes, restarts, messages from other nodes and the simulated sensors.

#include <algorithm>

#include "meshd/bus_side.h"
#include "meshd/mesh_daemon.h"
#include "meshd/sensor_field.h"

namespace sim::meshd {

nlohmann::json MeshDaemon::Control(const nlohmann::json& command) {
  try {
    return Execute(command);
  } catch (const std::exception& error) {
    return {{"ok", false}, {"error", error.what()}};
  }
}

nlohmann::json MeshDaemon::Execute(const nlohmann::json& command) {
  const std::string name = command.value("cmd", std::string{});
  if (name == "status") return Status();
  if (name == "records") return {{"ok", true}, {"records", Records()}};
  if (name == "nodes") return Nodes();
  if (name == "clear") {
    const std::lock_guard<std::mutex> lock(mutex_);
    record_.Clear();
    return {{"ok", true}};
  }
  if (name == "faults") {
    const std::lock_guard<std::mutex> lock(mutex_);
    return faults_.Apply(command);
  }
  if (name == "forget") return Forget(command);
  if (name == "deliver") return DeliverCommand(command);
  if (name == "sensors" || name == "add_sensors" || name == "sensor_faults" || name == "leave" || name == "pace" ||
      name == "sensor_values") {
    if (!started_ || !sensors_) return {{"ok", false}, {"error", "not started"}};
    return sensors_->Control(command);
  }
  if (name == "restart") {
    if (!started_) return {{"ok", false}, {"error", "not started"}};
    const std::chrono::milliseconds pause{command.value("off_ms", 1000)};
    worker_->Post([this, pause] { BeginRestart(pause); });
    return {{"ok", true}};
  }
  return {{"ok", false}, {"error", "unknown command " + name}};
}

nlohmann::json MeshDaemon::Nodes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto& entry : nodes_) nodes.push_back(ToJson(entry.second));
  return {{"ok", true}, {"nodes", nodes}};
}

nlohmann::json MeshDaemon::Status() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto& [token, node] : nodes_) {
    const std::string owner = OwnerOf(token);
    nodes.push_back({{"token", token}, {"uuid", ToHex(node.uuid)}, {"unicast", node.unicast},
                     {"path", node.ObjectPath()}, {"attached", !owner.empty()}, {"owner", owner}});
  }
  return {{"ok", true}, {"name_owned", name_owned_}, {"nodes", nodes}};
}

nlohmann::json MeshDaemon::Forget(const nlohmann::json& command) {
  std::vector<std::string> paths;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto entry = nodes_.begin(); entry != nodes_.end();) {
      if (command.contains("token") && command.at("token").get<std::uint64_t>() != entry->first) {
        ++entry;
        continue;
      }
      paths.push_back(entry->second.ObjectPath());
      attachments_.erase(entry->first);
      entry = nodes_.erase(entry);
    }
    state_file_.Save(nodes_);
    record_.Add({{"kind", "event"}, {"event", "forgot"}, {"nodes", paths.size()}});
  }
  if (started_) {
    worker_->Post([this, paths] {
      if (!bus_) return;
      for (const auto& path : paths) bus_->HideNode(path);
    });
  }
  return {{"ok", true}, {"forgotten", paths.size()}};
}

// An access message from another node (address "source") arriving at an attached node:
// with an application key, to the elements whose models are bound to it and addressed (their
// unicast address or a subscribed group); with a device key, to the addressed element.
nlohmann::json MeshDaemon::DeliverCommand(const nlohmann::json& command) {
  if (!started_) return {{"ok", false}, {"error", "not started"}};
  const auto source = command.at("source").get<std::uint16_t>();
  const Bytes data = FromHex(command.at("data").get<std::string>());
  std::vector<Delivery> deliveries;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.end();
    if (command.contains("token")) {
      found = nodes_.find(command.at("token").get<std::uint64_t>());
    } else {
      found = std::find_if(nodes_.begin(), nodes_.end(),
                           [this](const auto& entry) { return !OwnerOf(entry.first).empty(); });
    }
    if (found == nodes_.end()) return {{"ok", false}, {"error", "no such node"}};
    const NodeState& node = found->second;
    const std::string owner = OwnerOf(node.token);
    const auto destination = command.value("destination", node.unicast);
    if (command.value("dev_key", false)) {
      Delivery delivery;
      delivery.member = "DevKeyMessageReceived";
      delivery.source = source;
      delivery.destination = destination;
      delivery.data = data;
      delivery.remote = command.value("remote", true);
      delivery.index = command.value("net_index", node.net_index);
      const ElementState* element = node.ElementAt(destination);
      if (element == nullptr || (delivery.remote && !node.RemoteDeviceKey(source))) {
        return {{"ok", false}, {"error", "not decryptable by the node (no element or no device key for the source)"}};
      }
      AddElementDelivery(*element, owner, delivery, deliveries);
    } else {
      AddAppKeyDeliveries(node, owner, source, destination, command.value("key_index", std::uint16_t{0}), data,
                          deliveries);
      if (deliveries.empty()) return {{"ok", false}, {"error", "no element of the node takes it"}};
    }
  }
  worker_->Post([this, deliveries] { Deliver(deliveries); });
  return {{"ok", true}, {"elements", deliveries.size()}};
}

}  // namespace sim::meshd
