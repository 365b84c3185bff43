#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "mailbox/depesche_poster.h"
#include "mesh/device_settings_fetcher.h"
#include "mesh/mesh_component.h"
#include "mesh/mesh_joiner.h"
#include "mesh/mesh_link.h"
#include "mesh/mesh_message.h"
#include "mesh/mesh_options.h"
#include "mesh/node_registry.h"
#include "mesh/outlet.h"
#include "mesh/paced_sender.h"
#include "mesh/periodic_work.h"
#include "mesh/receive_dispatch.h"
#include "mesh/watchdog_timing.h"

namespace timer {
class TimerQueue;
}  // namespace timer

// The Bluetooth mesh gateway, as the application sees it: exports the gateway's application
// tree to the mesh daemon, joins the mesh, and serves the sensor nodes. A façade over its
// parts, each usable alone:
// - the link (MeshLink): the D-Bus connection, the exported tree and the daemon's proxies;
// - the paced sender (PacedSender): the four queues and their threads;
// - the receive dispatch (ReceiveDispatch) behind its outlet, the node registry, and the
//   fetcher of the cloud's device settings (DeviceSettingsFetcher);
// - the joiner (MeshJoiner): import or attach, self-configuration, rejoining;
// - the periodic work (PeriodicWork): beacon, firmware announcement, heartbeat, ageing.
//
// Threads: the sender's four, the fetcher's, the D-Bus event loop (while initialised), one
// timer thread shared by the joiner's rejoin and the periodic work, and the nodes' shared
// watchdog worker.
// Initialize and Deinitialize run on the caller's thread. Ownership: owns every part; the
// services and the application outlive it. Nothing outside the parts is shared between
// threads.
class BluetoothMesh : public MeshComponent, public mailbox::DepescheSender {
 public:
  using Message = MeshMessage;

  BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application, MeshServices services, MeshOptions options = {});
  ~BluetoothMesh() override;
  BluetoothMesh(const BluetoothMesh&) = delete;
  BluetoothMesh& operator=(const BluetoothMesh&) = delete;

  // Exports the objects, starts the D-Bus event loop and joins; false when joining failed
  // (the objects stay exported, and the gateway joins again when the mesh daemon reappears).
  bool Initialize() override;
  // Joins the mesh daemon and configures the gateway's node; true on success.
  bool Registration();
  // Withdraws the objects and leaves the bus.
  void Deinitialize() override;

  // Queues `message` for sending by its type; a received or unknown type is dropped.
  void Enqueue(const Message& message);

  void UpdateBeacon(const std::string& device_id, const bool& enable) override;
  void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) override;
  // Taken from the parts one at a time, each under its own lock (no two held at once).
  mesh::MeshStatus Status() const override;

  const NodeRegistry& Nodes() const { return nodes_; }
  // What became of the records of each of the four queues (waiting, replaced, skipped, dropped).
  SenderCounters QueueCounts() const { return sender_.Counters(); }

 private:
  MeshEvents Events();
  void Subscribe(const std::string& device_id);
  void Unsubscribe(const std::string& device_id);
  std::optional<DeviceSettings> FetchDeviceSettings(const std::string& device_id) const;
  void CheckController();

  const std::shared_ptr<mailbox::DepeschePoster> application_;
  const MeshServices services_;
  const MeshOptions options_;
  // Shared by the joiner and the periodic work; ended first, while they still exist.
  std::unique_ptr<timer::TimerQueue> timer_;
  MeshLink link_;
  MeshOutlet outlet_;  // outlives the nodes, which send through it
  NodeRegistry nodes_;
  ReceiveDispatch dispatch_;  // used by the sender's receive thread and the fetcher's
  DeviceSettingsFetcher fetcher_;
  PacedSender sender_;
  MeshJoiner joiner_;
  PeriodicWork periodic_;
};
