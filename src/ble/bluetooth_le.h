#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "ble/ble_platform.h"
#include "ble/provisioning_component.h"
#include "ble/provisioning_window.h"
#include "ble/request_pace.h"
#include "ble/retry_schedule.h"
#include "mailbox/depesche_poster.h"
#include "mutex/stop_signal.h"
#include "queue/paced_queue.h"

class ProvisioningSettings;

namespace org::bluez {
class Adapter1;
class GattManager1;
class GattApplication;
class GattService1;
class LEAdvertisingManager1;
class LEAdvertisement1;
}  // namespace org::bluez
namespace ble {
class BluezPresence;
class ProvisioningProtocol;
class Publication;
}  // namespace ble

// BLE provisioning: the GATT service and advertisement through which a phone sets the
// gateway up, published through bluetoothd on the system D-Bus. The phone writes requests
// into char2; the replies leave as value changes (notifications) of char1, one every
// 500 ms. The gateway's identity and the mesh credentials live in `settings` (the
// configuration store in the daemon; it outlives the component).
//
// While bluetoothd is absent or refuses, a keeper thread sets the service up again after a
// pause (2 s doubling to 60 s), sooner when bluetoothd's bus name appears, and posts
// SYS_EVT_BLUETOOTH_RECOVERED once it is published. With a provisioning window ("sys" option
// provisioning_window), the advertisement and the phone's requests last that many minutes
// after Initialize or a press of the button.
//
// Threads: transmit, receive and keeper threads of its own; the D-Bus event loops of the
// publication and of the bus-name watch. Every change of what is published (set-up,
// withdrawal, advertising) happens under keeper_lock_, one at a time.
class BluetoothLE : public ProvisioningComponent, public mailbox::DepescheSender {
 public:
  class Char1;
  class Char2;
  class ConnectEvent;
  class DisconnectEvent;
  using Adapter = org::bluez::Adapter1;
  using Manager = org::bluez::GattManager1;
  using Application = org::bluez::GattApplication;
  using Service = org::bluez::GattService1;
  using AdvManager = org::bluez::LEAdvertisingManager1;

  // Starts the transmit, receive and keeper threads; no D-Bus work is done here.
  BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, ProvisioningSettings& settings,
              BlePlatform platform = BlePlatform{});
  // Ends the threads, then withdraws from the bus.
  ~BluetoothLE() override;
  BluetoothLE(const BluetoothLE&) = delete;
  BluetoothLE& operator=(const BluetoothLE&) = delete;

  // Publishes the GATT application and advertisement (and, on the first boot, reads the
  // gateway's identity from the controller). False when the identity cannot be read, or
  // when bluetoothd is absent or refuses: then the keeper tries again until it succeeds.
  bool Initialize() override;
  // Withdraws the GATT application and advertisement, leaves the bus and stops trying.
  // The threads keep running.
  void Deinitialize() override;
  // The "results" array of a Wi-Fi scan, for the phone.
  void PutWirelessAPList(const nlohmann::json& results) override;
  void WirelessScanFailed() override;
  // The outcome of a Wi-Fi set-up, for the phone (the address is not sent).
  void PutWirelessConnectionEvent(bool connected, const std::string& address) override;
  void OpenProvisioningWindow() override;

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  using Message = std::vector<std::uint8_t>;
  using Clock = std::chrono::steady_clock;
  enum class SetUpOutcome { published, bluetoothd_unavailable, identity_unreadable };

  // Set-up and withdrawal (bluetooth_le_dbus.cpp); the callers hold keeper_lock_.
  SetUpOutcome SetUp(std::string& failure);
  std::shared_ptr<ble::Publication> Publish(std::uint64_t generation);
  // Reads and stores the identity on the first boot; false after ten failed attempts.
  bool ReadIdentityIfFirstBoot();
  void WatchBluez();
  void Withdraw();
  std::string LocalName() const;

  // The keeper thread (bluetooth_le_keeper.cpp).
  void KeepPublished();
  std::optional<Clock::time_point> NextWake(Clock::time_point now) const;  // caller holds keeper_lock_
  void KeepUp(Clock::time_point now);                                      // caller holds keeper_lock_
  void Retry(Clock::time_point now);                                       // caller holds keeper_lock_
  void FollowWindow(Clock::time_point now);                                // caller holds keeper_lock_
  Clock::duration WindowLength() const;
  void OnBluezPresence(bool present);
  void OnRefused(std::uint64_t generation);

  // The phone's requests and the replies (bluetooth_le.cpp).
  void OnWrite(const Message& value);
  void QueueReply(const Message& reply);
  // Sends one reply to the phone as a notification of char1 (none without a publication).
  void NotifyPhone(const Message& reply);
  void OnConnectionChanged(bool connected);

  const BlePlatform platform_;
  ProvisioningSettings& settings_;

  std::mutex keeper_lock_;
  std::atomic<bool> active_{false};  // between Initialize and Deinitialize; written under keeper_lock_
  std::unique_ptr<ble::BluezPresence> presence_;  // guarded by keeper_lock_
  ble::RetrySchedule schedule_;                   // guarded by keeper_lock_
  bool window_closed_reported_ = false;           // guarded by keeper_lock_
  // What the keeper thread is woken for.
  std::atomic<bool> bluez_appeared_{false};
  std::atomic<bool> bluez_vanished_{false};
  std::atomic<bool> refused_{false};
  std::atomic<bool> plans_changed_{false};  // a retry scheduled, the window opened
  // The publication is replaced under the exclusive lock; the transmit thread uses it under
  // the shared one, so whoever replaces it destroys the old one alone.
  std::shared_mutex publication_lock_;
  std::shared_ptr<ble::Publication> publication_;
  std::atomic<std::uint64_t> generation_{0};  // of the current publication

  ble::ProvisioningWindow window_;
  std::atomic<bool> closed_drop_reported_{false};
  ble::RequestPace pace_;
  // The replies, one notification per transmit pace, in queued order (transmit thread).
  queue::PacedQueue<Message> transmit_;
  std::unique_ptr<ble::ProvisioningProtocol> protocol_;
  // The phone's requests, handled one after the other as they arrive (receive thread).
  queue::PacedQueue<Message> receive_;
  mutex::StopSignal keeper_stop_;
  std::thread keeper_;  // last: it starts once everything it uses exists
};
