#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "mesh/mesh_message.h"
#include "mesh/mesh_options.h"

class CloudClient;
class FirmwareSource;
class MeshSettings;
class NodeRegistry;
namespace timer {
class TimerQueue;
}  // namespace timer

// The mesh component's periodic work: the node check (removes nodes not heard from for
// longer than the node age; first after one period) and the heartbeat to the cloud (the ids
// of all nodes), both from Start; the gateway beacon (its addresses, to every node; then the
// check of the Bluetooth controller) and the firmware announcement (each firmware the
// manager offers, to every node), both from StartRunning, after each successful join. Each
// handler does nothing when cancelled; otherwise it works and schedules itself again.
//
// Thread: the handlers run on the shared timer queue's worker; they only queue records and
// texts, so they never hold it up. Ownership: everything it is given outlives it.
class PeriodicWork {
 public:
  struct Services {
    const MeshSettings& settings;
    CloudClient& cloud;
    const FirmwareSource& firmware;
    NodeRegistry& nodes;
    std::function<void(const MeshMessage&)> enqueue;
    std::function<void()> check_controller;  // after every gateway beacon
  };

  PeriodicWork(timer::TimerQueue& timer, MeshPeriods periods, Services services);
  PeriodicWork(const PeriodicWork&) = delete;
  PeriodicWork& operator=(const PeriodicWork&) = delete;

  // The node check and the heartbeat.
  void Start();
  // The gateway beacon and the firmware announcement, each scheduled once however often it
  // is called.
  void StartRunning();
  // Cancels every pending handler; one running meanwhile does not schedule itself again
  // (until Start).
  void Cancel();

  void HeartbeatHandler(bool cancelled);
  void NodeCheckHandler(bool cancelled);
  void GatewayBeaconHandler(bool cancelled);
  void UpdateUpgradeSignal(bool cancelled);
  void DeleteOldMeshNode();

 private:
  void Reschedule(std::uint64_t& timer, std::chrono::milliseconds delay,
                  void (PeriodicWork::*handler)(bool));

  timer::TimerQueue& timer_;
  const MeshPeriods periods_;
  const Services services_;
  std::mutex schedule_lock_;  // makes Cancel and a handler's rescheduling one step each
  bool cancelled_ = false;
  std::uint64_t beacon_timer_ = 0;
  std::uint64_t heartbeat_timer_ = 0;
  std::uint64_t node_check_timer_ = 0;
  std::uint64_t upgrade_signal_timer_ = 0;
};
