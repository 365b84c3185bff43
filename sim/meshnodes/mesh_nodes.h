#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "meshd/sensor_field.h"
#include "meshd/sensor_options.h"
#include "meshd/worker.h"
#include "meshnodes/simulated_node.h"

namespace sim::standin {
class ControlSocket;
}

namespace sim::meshnodes {

struct MeshNodesOptions {
  std::string bus_address;     // empty: the system bus
  std::string control_socket;  // empty: none (Control still works in process)
  sim::meshd::SensorFieldOptions sensors;
};

// Simulated sensor nodes living in the real mesh daemon, one application each on one bus
// connection: the sensors of sim-meshd's field (their behaviour, reports and control
// commands) with the daemon's network and transport layers between them and the gateway.
// They join once they are given the network's keys ("join"), attach again whenever the daemon
// comes back on the bus, and send through it what the field makes them send.
//
// Control commands (Control): "join" {"net_key","app_key": hexadecimal}; "nodes" (each node's
// join state); "add_sensors" (added nodes join at once when the keys are known); and the
// field's own ("sensors", "sensor_faults", "leave", "pace").
//
// Threads: the D-Bus event loop (the daemon's calls, which only queue), the field's thread
// (sends), and a worker for joins and attaches (blocking calls).
class MeshNodes {
 public:
  explicit MeshNodes(const MeshNodesOptions& options);
  ~MeshNodes();
  MeshNodes(const MeshNodes&) = delete;
  MeshNodes& operator=(const MeshNodes&) = delete;

  nlohmann::json Control(const nlohmann::json& command);

 private:
  void AddNodes(const nlohmann::json& added);
  SimulatedNode* Find(std::uint16_t address) const;
  // The nodes, which live as long as this object; taken under the lock, used without it.
  std::vector<SimulatedNode*> Snapshot() const;
  void Transmit(std::uint16_t source, std::uint16_t destination, const Bytes& data);
  void OnDaemonOwner(const std::string& name, const std::string& new_owner);
  void JoinAll();
  void ReattachAll();
  nlohmann::json DescribeNodes() const;

  std::unique_ptr<sdbus::IConnection> connection_;
  mutable std::mutex mutex_;
  std::map<std::uint16_t, std::unique_ptr<SimulatedNode>> nodes_;
  std::optional<NetworkKeys> keys_;
  sim::meshd::Worker worker_;
  std::unique_ptr<sdbus::IProxy> bus_watch_;
  std::unique_ptr<sim::meshd::SensorField> field_;
  std::unique_ptr<sim::standin::ControlSocket> control_;
};

}  // namespace sim::meshnodes
