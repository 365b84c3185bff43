#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/connection.h"
#include "platform/scenario.h"
#include "platform/uci_service.h"
#include "platform/uci_store.h"

namespace sim::platform {

// The router's platform objects on one bus connection, as rpcd, netifd and procd provide
// them: "uci", "network.interface.wan" (status, up, down), "iwinfo" (scan), "system"
// (board, reboot), plus "platform" to drive the simulation (button presses, state).
// Like those services they outlive a restart of the broker: Attach adds them again on the
// new connection, which then carries their events.
class PlatformObjects {
 public:
  PlatformObjects(UciStore& store, Scenario scenario);
  ~PlatformObjects();
  PlatformObjects(const PlatformObjects&) = delete;
  PlatformObjects& operator=(const PlatformObjects&) = delete;

  // Registers every object on `bus` and sends the events through it from now on; false
  // when the broker refuses an object.
  bool Attach(const std::shared_ptr<ipc::Connection>& bus);

  // Brings the WAN up or down, with netifd's events.
  void SetWan(bool up);
  void PressButton(const std::string& name);

 private:
  int WanStatus(const ipc::ReplySender& reply);
  int Scan(const ipc::InvokeRequest& request, const ipc::ReplySender& reply);
  int Board(const ipc::ReplySender& reply);
  int Reboot();
  void AfterCommit(const std::string& package);
  void SendEvent(const std::string& type, const nlohmann::ordered_json& data);
  static bool AddObject(ipc::Connection& bus, const std::string& path, std::vector<ipc::ObjectMethod> methods);

  std::mutex bus_lock_;
  std::shared_ptr<ipc::Connection> bus_;  // the connection that carries the events
  UciStore& store_;
  UciService uci_;
  const Scenario scenario_;
  std::mutex lock_;
  bool wan_up_;
  std::chrono::steady_clock::time_point wan_since_;
  int reboots_ = 0;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> appliers_;
};

}  // namespace sim::platform
