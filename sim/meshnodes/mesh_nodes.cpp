#include "meshnodes/mesh_nodes.h"

#include <iostream>
#include <vector>

#include "meshd/event_loop.h"
#include "meshd/sensor_options.h"
#include "meshnodes/daemon_proxies.h"
#include "standin/control_socket.h"

namespace sim::meshnodes {

namespace {

constexpr std::size_t kKeySize = 16;

Bytes Key(const nlohmann::json& command, const char* name) {
  Bytes key = sim::meshd::FromHex(command.at(name).get<std::string>());
  if (key.size() != kKeySize) throw std::invalid_argument(std::string(name) + " must be 16 bytes");
  return key;
}

}  // namespace

MeshNodes::MeshNodes(const MeshNodesOptions& options)
    : connection_(options.bus_address.empty() ? sdbus::createSystemBusConnection()
                                              : sdbus::createSessionBusConnectionWithAddress(options.bus_address)) {
  connection_->enterEventLoopAsync();
  sim::meshd::WaitForEventLoop(*connection_);
  bus_watch_ = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bus_watch_->uponSignal("NameOwnerChanged")
      .onInterface("org.freedesktop.DBus")
      .call([this](const std::string& name, const std::string& /*old_owner*/, const std::string& new_owner) {
        OnDaemonOwner(name, new_owner);
      });
  bus_watch_->finishRegistration();
  field_ = std::make_unique<sim::meshd::SensorField>(
      [this](std::uint16_t source, std::uint16_t destination, Bytes data) { Transmit(source, destination, data); });
  AddNodes(sim::meshd::PopulateField(*field_, options.sensors));
  if (!options.control_socket.empty()) {
    control_ = std::make_unique<sim::standin::ControlSocket>(
        options.control_socket, [this](const nlohmann::json& command) { return Control(command); });
  }
}

// The worker's calls need the event loop for their replies, and the loop's handlers the field.
MeshNodes::~MeshNodes() {
  control_.reset();
  worker_.Stop();
  connection_->leaveEventLoop();
  field_.reset();
  bus_watch_.reset();
  const std::lock_guard<std::mutex> lock(mutex_);
  nodes_.clear();
}

void MeshNodes::AddNodes(const nlohmann::json& added) {
  bool join = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& sensor : added) {
      const auto address = sensor.at("address").get<std::uint16_t>();
      nodes_[address] = std::make_unique<SimulatedNode>(*connection_, address,
                                                        [this, address](std::uint16_t source, const Bytes& data) {
                                                          field_->Hear(source, address, data);
                                                        });
    }
    join = keys_.has_value();
  }
  if (join) worker_.Post([this] { JoinAll(); });
}

SimulatedNode* MeshNodes::Find(std::uint16_t address) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = nodes_.find(address);
  return found == nodes_.end() ? nullptr : found->second.get();
}

// On the field's thread: a node's message to the gateway goes out through the daemon.
void MeshNodes::Transmit(std::uint16_t source, std::uint16_t destination, const Bytes& data) {
  if (auto* node = Find(source)) node->Send(destination, data);
}

// On the event loop: the daemon left the bus or came back.
void MeshNodes::OnDaemonOwner(const std::string& name, const std::string& new_owner) {
  if (name != kMeshService) return;
  std::cout << "the mesh daemon " << (new_owner.empty() ? "left the bus" : "is on the bus as " + new_owner)
            << std::endl;
  if (new_owner.empty()) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [address, node] : nodes_) node->Detach();
    return;
  }
  worker_.Post([this] { ReattachAll(); });
}

std::vector<SimulatedNode*> MeshNodes::Snapshot() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<SimulatedNode*> nodes;
  for (const auto& [address, node] : nodes_) nodes.push_back(node.get());
  return nodes;
}

void MeshNodes::JoinAll() {
  std::optional<NetworkKeys> keys;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    keys = keys_;
  }
  if (!keys) return;
  for (auto* node : Snapshot()) node->Join(*keys);
}

void MeshNodes::ReattachAll() {
  for (auto* node : Snapshot()) node->Reattach();
  JoinAll();  // nodes whose join the restart cut short
}

nlohmann::json MeshNodes::DescribeNodes() const {
  nlohmann::json nodes = nlohmann::json::array();
  for (const auto* node : Snapshot()) nodes.push_back(node->Describe());
  return {{"ok", true}, {"nodes", nodes}};
}

nlohmann::json MeshNodes::Control(const nlohmann::json& command) {
  const std::string name = command.value("cmd", std::string{});
  if (name == "join") {
    NetworkKeys keys{Key(command, "net_key"), Key(command, "app_key")};
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      keys_ = std::move(keys);
    }
    worker_.Post([this] { JoinAll(); });
    return {{"ok", true}};
  }
  if (name == "nodes") return DescribeNodes();
  nlohmann::json reply = field_->Control(command);
  if (name == "add_sensors" && reply.value("ok", false)) AddNodes(reply.at("added"));
  return reply;
}

}  // namespace sim::meshnodes
