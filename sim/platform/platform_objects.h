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
class PlatformObjects {
 public:
  PlatformObjects(ipc::Connection& bus, UciStore& store, Scenario scenario);
  ~PlatformObjects();
  PlatformObjects(const PlatformObjects&) = delete;
  PlatformObjects& operator=(const PlatformObjects&) = delete;

  // Registers every object; false when the broker refuses one.
  bool Register();

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
  bool AddObject(const std::string& path, std::vector<ipc::MethodSpec> methods);

  ipc::Connection& bus_;
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
