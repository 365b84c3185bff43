#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hci/hci_controller.h"
#include "ipc/bus_defaults.h"

// What BLE provisioning reaches outside itself. The daemon uses the defaults; tests point
// the D-Bus connection at a private bus, hand in a controller double and shorten the waits.
struct BlePlatform {
  using RandomSource = std::function<bool(std::uint8_t* bytes, std::size_t count)>;

  std::string bus_address;               // empty: the system bus
  std::shared_ptr<HciController> hci;    // null: the raw HCI socket
  std::string ubus_socket = ipc::kDefaultSocket;
  RandomSource random;                   // null: OpenSSL's RAND_bytes
  std::chrono::milliseconds transmit_pace = std::chrono::milliseconds(500);
  std::chrono::milliseconds start_mesh_delay = std::chrono::seconds(30);
  std::chrono::milliseconds disconnect_grace = std::chrono::seconds(2);
  std::chrono::milliseconds identity_wait = std::chrono::seconds(1);  // per attempt
  std::chrono::milliseconds identity_retry = std::chrono::milliseconds(100);
  // Pauses between set-up attempts while bluetoothd is absent or refuses.
  std::chrono::milliseconds set_up_retry_first = std::chrono::seconds(2);
  std::chrono::milliseconds set_up_retry_longest = std::chrono::seconds(60);
  // How long one minute of the provisioning window ("sys" option provisioning_window) lasts.
  std::chrono::milliseconds window_minute = std::chrono::minutes(1);
  // Requests taken back to back before the transmit pace applies to them, and the replies
  // that may wait for the phone when a request comes.
  std::size_t request_burst = 8;
  std::size_t request_backlog = 8;
  // Replies waiting for the phone at most; beyond it the oldest is dropped.
  std::size_t reply_capacity = 128;
};
