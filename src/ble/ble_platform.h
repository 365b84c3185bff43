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
};
