#include "mesh/periodic_work.h"

#include <ctime>
#include <utility>

#include <nlohmann/json.hpp>

#include "log/log.h"
#include "mesh/mesh_names.h"
#include "mesh/node_registry.h"
#include "nvram/mesh_settings.h"
#include "ota/firmware_source.h"
#include "packet/sensor_setting/ota_announcement.h"
#include "packet/sensor_setting/set.h"
#include "packet/serialization.h"
#include "server/cloud_client.h"
#include "timer/timer_queue.h"

PeriodicWork::PeriodicWork(timer::TimerQueue& timer, MeshPeriods periods, Services services)
    : timer_(timer), periods_(periods), services_(std::move(services)) {}

void PeriodicWork::Start() {
  {
    const std::lock_guard<std::mutex> guard(schedule_lock_);
    cancelled_ = false;
  }
  Reschedule(node_check_timer_, periods_.node_check, &PeriodicWork::NodeCheckHandler);
  Reschedule(heartbeat_timer_, periods_.heartbeat, &PeriodicWork::HeartbeatHandler);
}

void PeriodicWork::StartRunning() {
  Reschedule(beacon_timer_, periods_.beacon_first, &PeriodicWork::GatewayBeaconHandler);
  Reschedule(upgrade_signal_timer_, periods_.upgrade_first, &PeriodicWork::UpdateUpgradeSignal);
}

void PeriodicWork::Cancel() {
  const std::lock_guard<std::mutex> guard(schedule_lock_);
  cancelled_ = true;
  for (auto* timer : {&beacon_timer_, &heartbeat_timer_, &node_check_timer_, &upgrade_signal_timer_}) {
    timer_.Cancel(std::exchange(*timer, 0));
  }
}

// The timer queue never waits for a handler while cancelling, so holding the lock here is safe.
void PeriodicWork::Reschedule(std::uint64_t& timer, std::chrono::milliseconds delay,
                              void (PeriodicWork::*handler)(bool)) {
  const std::lock_guard<std::mutex> guard(schedule_lock_);
  if (cancelled_) return;
  timer_.Cancel(std::exchange(timer, 0));
  timer = timer_.Add(delay, [this, handler](bool cancelled) { (this->*handler)(cancelled); });
}

void PeriodicWork::GatewayBeaconHandler(bool cancelled) {
  if (cancelled) return;
  const MeshSettings& settings = services_.settings;
  const auto beacon =
      packet::Serialization(packet::sensor_setting::set::GatewayInfo(settings.NetAddr(), settings.GroupAddr()));
  if (!beacon.empty()) services_.enqueue(MeshMessage{MeshMessage::kApplicationKey, mesh_names::kAllNodes, beacon});
  Reschedule(beacon_timer_, periods_.beacon, &PeriodicWork::GatewayBeaconHandler);
  if (services_.check_controller) services_.check_controller();
}

void PeriodicWork::UpdateUpgradeSignal(bool cancelled) {
  if (cancelled) return;
  for (const FirmwareListEntry& entry : services_.firmware.FirmwareList()) {
    LOG_VERBOSE << "type : " << entry.type;
    LOG_VERBOSE << "version : " << entry.version;
    LOG_VERBOSE << "size : " << entry.blocks;
    const auto announcement = packet::Serialization(
        packet::sensor_setting::set::MakeOTAAnnouncement(entry.type, entry.version, entry.blocks));
    if (!announcement.empty()) {
      services_.enqueue(MeshMessage{MeshMessage::kFirmware, mesh_names::kAllNodes, announcement});
    }
  }
  Reschedule(upgrade_signal_timer_, periods_.upgrade, &PeriodicWork::UpdateUpgradeSignal);
}

void PeriodicWork::HeartbeatHandler(bool cancelled) {
  if (cancelled) return;
  LOG_VERBOSE << "HeartbeatHandler";
  const nlohmann::json ids(services_.nodes.Ids());
  services_.cloud.HeartBeat(ids.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  Reschedule(heartbeat_timer_, periods_.heartbeat, &PeriodicWork::HeartbeatHandler);
}

void PeriodicWork::NodeCheckHandler(bool cancelled) {
  if (cancelled) return;
  LOG_VERBOSE << "NodeCheckHandler";
  DeleteOldMeshNode();
  Reschedule(node_check_timer_, periods_.node_check, &PeriodicWork::NodeCheckHandler);
}

void PeriodicWork::DeleteOldMeshNode() {
  services_.nodes.RemoveStale(std::time(nullptr), static_cast<std::time_t>(periods_.node_max_age_seconds));
}
