#include "ble/device_identity.h"

#include <cstdio>

#include "log/log.h"

namespace ble {

namespace {

constexpr std::uint16_t kIdentityCommand = 0x012;  // vendor command (OGF 0x3F)
constexpr std::size_t kDeviceIdOffset = 8;
constexpr std::size_t kDeviceIdSize = 6;
constexpr std::size_t kSerialOffset = 14;
constexpr std::size_t kSerialSize = 16;

void AppendHex(std::string& text, std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 0x0F];
}

}  // namespace

std::optional<DeviceIdentity> ParseIdentityPacket(const std::vector<std::uint8_t>& packet) {
  if (packet.size() != kIdentityPacketSize) return std::nullopt;
  DeviceIdentity identity;
  for (std::size_t index = kDeviceIdOffset + kDeviceIdSize; index > kDeviceIdOffset; --index) {
    AppendHex(identity.device_id, packet[index - 1]);
  }
  for (std::size_t index = kSerialOffset; index < kSerialOffset + kSerialSize; ++index) {
    AppendHex(identity.serial_number, packet[index]);
  }
  return identity;
}

std::optional<DeviceIdentity> ReadAddresses(HciController& controller, std::chrono::milliseconds wait) {
  const std::vector<std::uint8_t> parameters(4, 0);
  const auto answer = controller.SendVendorCommand(kIdentityCommand, parameters, kIdentityPacketSize, wait);
  switch (answer.status) {
    case HciController::VendorStatus::ok:
      return ParseIdentityPacket(answer.packet);
    case HciController::VendorStatus::open_failed:
      LOG_ERROR << "Device Open Failed";
      break;
    case HciController::VendorStatus::filter_failed:
      LOG_ERROR << "HCI Filter setup failed";
      break;
    case HciController::VendorStatus::send_failed:
      LOG_ERROR << "Send failed";
      break;
    case HciController::VendorStatus::read_failed:
      LOG_ERROR << "Read failed";
      break;
    case HciController::VendorStatus::timed_out:
      LOG_ERROR << "No answer from the controller within " << wait.count() << " ms";
      break;
  }
  return std::nullopt;
}

}  // namespace ble
