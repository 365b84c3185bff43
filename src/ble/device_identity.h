#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hci/hci_controller.h"

namespace ble {

// The gateway's identity as the Bluetooth controller reports it.
struct DeviceIdentity {
  std::string device_id;      // 12 lowercase hexadecimal digits
  std::string serial_number;  // 32 lowercase hexadecimal digits
};

// The size of the controller's answer to the identity command, packet-type byte included.
inline constexpr std::size_t kIdentityPacketSize = 30;

// The identity in a 30-byte answer: the device id is bytes 8..13 in reverse order, the
// serial number bytes 14..29 in order. Nothing for a packet of another size.
std::optional<DeviceIdentity> ParseIdentityPacket(const std::vector<std::uint8_t>& packet);

// One attempt to read the identity through the vendor command, waiting at most `wait` for
// the answer; logs the step that failed.
std::optional<DeviceIdentity> ReadAddresses(HciController& controller, std::chrono::milliseconds wait);

}  // namespace ble
