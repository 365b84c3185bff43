#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <nlohmann/json.hpp>

#include "ble/ble_platform.h"
#include "ble/provisioning_messages.h"
#include "mailbox/depesche_poster.h"
#include "timer/timer_queue.h"

class ProvisioningSettings;

namespace ble {

// The provisioning commands a phone sends: "I" (identity), "WS" (Wi-Fi scan), "WP" (Wi-Fi
// set-up), "M" (mesh credentials) and "S" (start the mesh). Replies are handed to `transmit`
// as encoded CBOR; work for the rest of the system is posted to the application. The
// identity is read from `settings`, and the mesh credentials are stored there: all of them
// or, when any field is wrong, none. "S" needs mesh credentials in the store; one Wi-Fi scan
// runs at a time, its list answering every "WS" that came meanwhile.
class ProvisioningProtocol : public mailbox::DepescheSender {
 public:
  using Transmit = std::function<void(Bytes)>;

  ProvisioningProtocol(std::shared_ptr<mailbox::DepeschePoster> application, ProvisioningSettings& settings,
                       Transmit transmit, const BlePlatform& platform);
  ~ProvisioningProtocol();
  ProvisioningProtocol(const ProvisioningProtocol&) = delete;
  ProvisioningProtocol& operator=(const ProvisioningProtocol&) = delete;

  // Handles one value written by the phone. A value that is not a request is logged and
  // dropped; nothing thrown leaves.
  void HandleRequest(const Bytes& value);
  // Queues one "WL" per usable access point of a scan, then "WLE"; the scan has ended.
  void PutWirelessAPList(const nlohmann::json& results);
  // The scan ended without a list (nothing is sent); the next "WS" starts a new one.
  void WirelessScanFailed();
  // Queues "WCS" or "WCF".
  void PutWirelessConnectionEvent(bool ok);
  // The phone's "Connected" state changed: after "S", the mesh starts a short while later.
  void PhoneConnectionChanged();
  bool StartRequested() const { return start_requested_; }

 private:
  void Queue(const nlohmann::json& reply);
  void Dispatch(const nlohmann::json& request);
  void DeviceInformation();
  void ScanWireless();
  void SetWireless(const nlohmann::json& request);
  void StoreMeshCredentials(const nlohmann::json& request);
  void RequestStart();
  // Replaces the pending start timer by one due after `delay`.
  void ArmStart(std::chrono::milliseconds delay);
  void PostStartMesh();
  void Post(std::uint32_t id, std::shared_ptr<void> data = nullptr);

  const std::shared_ptr<mailbox::DepeschePoster> application_;
  ProvisioningSettings& settings_;
  const Transmit transmit_;
  const BlePlatform::RandomSource random_;
  const std::chrono::milliseconds start_mesh_delay_;
  const std::chrono::milliseconds disconnect_grace_;
  std::atomic<bool> start_requested_{false};
  std::atomic<bool> start_posted_{false};
  std::atomic<bool> scan_running_{false};  // from posting a scan until its list or failure
  std::mutex start_lock_;  // makes replacing the pending start timer one step
  std::uint64_t start_timer_ = 0;
  // Last: destroying it runs the pending handlers, which use the members above.
  std::unique_ptr<timer::TimerQueue> timers_;
};

}  // namespace ble
