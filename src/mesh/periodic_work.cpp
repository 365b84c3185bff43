// The component's periodic work: the gateway beacon, the firmware announcement, the
// heartbeat to the cloud and the ageing of nodes.

#include <ctime>

#include <nlohmann/json.hpp>

#include "log/log.h"
#include "mailbox/message_id.h"
#include "mesh/bluetooth_mesh.h"
#include "nvram/mesh_settings.h"
#include "packet/sensor_setting/set.h"
#include "packet/serialization.h"
#include "server/cloud_client.h"
#include "timer/timer_queue.h"

namespace {

constexpr std::uint16_t kAllNodes = 0xC8C8;  // beacon and announcement destination

}  // namespace

// From Initialize: the node check and the heartbeat.
void BluetoothMesh::StartPeriodicWork() {
  const MeshPeriods& periods = options_.periods;
  Reschedule(node_check_timer_, periods.node_check, &BluetoothMesh::NodeCheckHandler);
  Reschedule(heartbeat_timer_, periods.heartbeat, &BluetoothMesh::HeartbeatHandler);
}

// From a successful registration (again after the mesh daemon restarted): beacon and firmware
// announcement, each scheduled once.
void BluetoothMesh::StartRunningWork() {
  const MeshPeriods& periods = options_.periods;
  Reschedule(beacon_timer_, periods.beacon_first, &BluetoothMesh::GatewayBeaconHandler);
  Reschedule(upgrade_signal_timer_, periods.upgrade_first, &BluetoothMesh::UpdateUpgradeSignal);
}

void BluetoothMesh::CancelPeriodicWork() {
  for (auto* timer : {&rejoin_timer_, &beacon_timer_, &heartbeat_timer_, &node_check_timer_, &upgrade_signal_timer_}) {
    timer_->Cancel(timer->exchange(0));
  }
}

void BluetoothMesh::Reschedule(std::atomic<std::uint64_t>& timer, std::chrono::milliseconds delay,
                               void (BluetoothMesh::*handler)(bool)) {
  timer_->Cancel(timer.exchange(0));
  timer = timer_->Add(delay, [this, handler](bool cancelled) { (this->*handler)(cancelled); });
}

void BluetoothMesh::GatewayBeaconHandler(bool cancelled) {
  if (cancelled) return;
  const auto beacon =
      packet::Serialization(packet::sensor_setting::set::GatewayInfo(Store().NetAddr(), Store().GroupAddr()));
  if (!beacon.empty()) Enqueue(Message{Message::kApplicationKey, kAllNodes, beacon});
  Reschedule(beacon_timer_, options_.periods.beacon, &BluetoothMesh::GatewayBeaconHandler);
  if (application_) mailbox::PostMessage(*application_, this, mailbox::APP_EVT_CHECK_HCI);
}

void BluetoothMesh::HeartbeatHandler(bool cancelled) {
  if (cancelled) return;
  LOG_VERBOSE << "HeartbeatHandler";
  const nlohmann::json ids(nodes_.Ids());
  Cloud().HeartBeat(ids.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  Reschedule(heartbeat_timer_, options_.periods.heartbeat, &BluetoothMesh::HeartbeatHandler);
}

void BluetoothMesh::NodeCheckHandler(bool cancelled) {
  if (cancelled) return;
  LOG_VERBOSE << "NodeCheckHandler";
  DeleteOldMeshNode();
  Reschedule(node_check_timer_, options_.periods.node_check, &BluetoothMesh::NodeCheckHandler);
}

void BluetoothMesh::DeleteOldMeshNode() {
  nodes_.RemoveOlderThan(std::time(nullptr), static_cast<std::time_t>(options_.periods.node_max_age_seconds));
}
