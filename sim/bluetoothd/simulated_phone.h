#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "bluetoothd/adapter_object.h"
#include "bluetoothd/device_object.h"

namespace sim::bluetoothd {

using Bytes = std::vector<std::uint8_t>;

// One notification the phone received.
struct Notification {
  std::chrono::steady_clock::time_point at;
  Bytes value;
};

// A phone in range of the gateway, acting through the GATT application registered with the
// adapter: it connects (a Device1 appears), subscribes to the characteristic that notifies,
// writes into the one that takes writes, and disconnects. Notifications arrive as value
// changes of the notifying characteristic while the phone is subscribed.
class SimulatedPhone {
 public:
  SimulatedPhone(sdbus::IConnection& connection, AdapterObject& adapter);
  ~SimulatedPhone();
  SimulatedPhone(const SimulatedPhone&) = delete;
  SimulatedPhone& operator=(const SimulatedPhone&) = delete;

  // Each throws std::runtime_error when the step cannot be taken (no application, not
  // connected) and sdbus::Error when the gateway refuses the call.
  void Connect(const std::string& address = "4C:E1:73:42:8A:10");
  void Subscribe();
  void Write(const Bytes& value);
  void Disconnect();

  // The next notification not yet taken, waiting at most `timeout`.
  std::optional<Notification> NextNotification(std::chrono::milliseconds timeout);
  // Every notification so far (taken or not).
  std::vector<Notification> Received() const;
  // How many value changes came while the phone was not subscribed (bluetoothd drops them).
  std::size_t Unheard() const;
  bool Connected() const;

  // The whole provisioning story, from connecting to the disconnect after "S" (see
  // bluetoothd.h for the script); returns the transcript.
  nlohmann::json Provision(const nlohmann::json& script);

 private:
  // Writes one request and waits for the reply whose "R" is `code`.
  nlohmann::json Exchange(const nlohmann::json& request, const std::string& code,
                          std::chrono::milliseconds timeout, nlohmann::json& transcript);
  nlohmann::json AwaitReply(const std::string& code, std::chrono::milliseconds timeout, nlohmann::json& transcript);
  Application RequireApplication() const;
  // Takes the device and its proxy out, for the caller to drop outside the lock.
  std::pair<std::unique_ptr<DeviceObject>, std::unique_ptr<sdbus::IProxy>> TakeDevice();
  void OnValueChanged(const std::map<std::string, sdbus::Variant>& changed);

  sdbus::IConnection& connection_;
  AdapterObject& adapter_;
  mutable std::mutex lock_;
  std::condition_variable arrived_;
  std::unique_ptr<DeviceObject> device_;
  std::unique_ptr<sdbus::IProxy> notify_proxy_;
  std::string write_path_;
  std::string owner_;
  bool subscribed_ = false;
  std::size_t unheard_ = 0;
  std::vector<Notification> received_;
  std::deque<Notification> unread_;
};

}  // namespace sim::bluetoothd
