#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "app/app_platform.h"
#include "log/severity.h"
#include "mailbox/depesche.h"
#include "mailbox/depesche_poster.h"
#include "queue/thread_safe_queue.h"
#include "timer/timer_queue.h"

class MeshComponent;
class ProvisioningComponent;
class ChannelComponent;
class PlcComponent;
class CloudWatch;
namespace status {
class StatusObject;
}

// The WAN's IPv4 address from "network.interface.wan" "status", or an empty text.
std::string GetIPAddress(const std::string& ubus_socket = AppPlatform{}.ubus_socket);

// The daemon's centre: owns the components, and is the single destination of the
// messages they post. Messages are handled one at a time, in posting order.
class App : public mailbox::DepescheSender,
            public mailbox::DepescheDestination,
            public mailbox::DepeschePoster,
            public std::enable_shared_from_this<App> {
 public:
  explicit App(AppPlatform platform = AppPlatform{}, AppComponents components = ProductionComponents());
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  void OnMessage(const mailbox::Depesche& message) override;

  // Brings the components up; the object must already be owned by a shared pointer.
  void Init();
  // Dispatches messages until Shutdown.
  void Run();
  // Handles every queued message, each on a fresh thread, one after the other.
  void DispatchMessages();
  // Queues a message for dispatch; callable from any thread.
  void Post(const mailbox::Depesche& message) override;
  mailbox::DepescheDestination* Destination() override { return this; }
  // The orderly teardown on a termination signal: leaves the mesh, stops the websocket
  // client and ends the run loop.
  void Shutdown();

  // WAN link and Bluetooth controller supervision.
  void CheckNetworkStatus();
  void NetworkEventHandler(const char* json);
  void ButtonEventHandler(const char* json);
  void NetworkSetupTimeout(bool cancelled);
  void HCIStatus(bool cancelled);
  void HCIStatus2();
  void ScheduleHCICheck();

  timer::TimerQueue& Timers() { return *timers_; }

 private:
  enum class HciOutcome { failed, healthy, malfunction };
  // One Wi-Fi set-up request waiting for the WAN to come up, shared with its timer's handler.
  struct NetworkSetup {
    enum class End { waiting, connected, replaced };
    std::uint64_t timer_id = 0;
    End end = End::waiting;  // guarded by setup_lock_
  };
  struct HciCounters {
    std::uint32_t current = 0;
    std::uint32_t previous = 0;
  };

  void PostToSelf(std::uint32_t id, std::shared_ptr<void> data = nullptr);
  // The operator's bus object: its methods and their documents, each made from snapshots
  // that the components take under their own locks (app_status.cpp).
  void ProvideStatusObject();
  nlohmann::json StatusDocument() const;
  nlohmann::json PlcsDocument() const;
  nlohmann::json NodesDocument() const;
  nlohmann::json FirmwareDocument() const;
  ota::FirmwareStatus FirmwareSnapshot() const;
  void QueryWanStatus(logging::Severity severity);
  void OnWanStatus(const char* json, logging::Severity severity);
  void Authenticate();
  void ScanWirelessAccessPoints();
  // Hands a scan's results to BLE provisioning; false when the reply has none.
  bool OnScanReply(const char* json);
  void SetWirelessAccessPoint(const mailbox::Depesche& message);
  // Arms the set-up timer for a new request, replacing a pending one.
  void ArmNetworkSetup();
  // Ends the pending set-up, if any, by cancelling its timer.
  void EndNetworkSetup(NetworkSetup::End end);  // caller holds setup_lock_
  void OnNetworkSetupTimer(const NetworkSetup& setup, bool cancelled);
  // Arms the periodic HCI check after `delay`, replacing a pending one.
  void ArmHciCheck(std::chrono::milliseconds delay);
  // Wakes the run loop for a new message or the end.
  void WakeRunLoop();
  void StartMesh();
  void HandleFolds(const mailbox::Depesche& message);
  void HandleBeacon(const mailbox::Depesche& message);
  void SendMeshdMalfunction();
  // Watches the cloud's deliveries and channel, to tell the LED when it is out of reach.
  void WatchCloud();
  HciOutcome CheckHci(HciCounters& counters, bool log_ok);

  const AppPlatform platform_;
  const AppComponents components_;
  const std::shared_ptr<HciController> hci_;

  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};  // a Shutdown that came before Run
  std::atomic<bool> initialised_{false};     // the components exist
  std::atomic<bool> wan_up_{false};          // by the latest WAN message
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  queue::ThreadSafeQueue<mailbox::Depesche> inbox_;
  // Declared before the timer queue, whose destruction still runs the handlers that use them.
  std::mutex run_lock_;  // pairs with run_signal_: the run loop sleeps until a post or Shutdown
  std::condition_variable run_signal_;
  std::mutex hci_lock_;  // makes replacing the pending periodic HCI check one step
  std::uint64_t hci_timer_id_ = 0;  // guarded by hci_lock_
  std::mutex setup_lock_;
  std::shared_ptr<NetworkSetup> pending_setup_;  // guarded by setup_lock_; null: none pending
  std::unique_ptr<MeshComponent> mesh_;
  std::unique_ptr<ProvisioningComponent> ble_;
  std::unique_ptr<ChannelComponent> websocket_;
  std::unique_ptr<PlcComponent> plc_manager_;
  std::shared_ptr<status::StatusObject> listener_;  // the events, and the operator's object
  std::unique_ptr<timer::TimerQueue> timers_;
  std::shared_ptr<CloudWatch> cloud_watch_;  // after the timer queue it uses
  HciCounters periodic_hci_;  // touched only by the timer worker
  HciCounters oneshot_hci_;   // touched only by message threads, one at a time
};
