#include "meshd/sensor_wire.h"

#include <algorithm>

namespace sim::meshd::sensor_wire {

namespace {

constexpr std::uint8_t kCompanyLow = 0xF1;
constexpr std::uint8_t kCompanyHigh = 0x05;
constexpr std::uint8_t kDataGet = 0xC0;
constexpr std::uint8_t kDataStatus = 0xC1;
constexpr std::uint8_t kSettingSet = 0xC3;
constexpr std::uint8_t kSettingStatus = 0xC4;
constexpr std::size_t kMaxSensorBody = 128;

std::uint16_t Get16(const Bytes& in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

Bytes Opcode(std::uint8_t first) { return {first, kCompanyLow, kCompanyHigh}; }

Bytes SettingStatus(std::uint16_t identifier, const Bytes& data) {
  Bytes out = Opcode(kSettingStatus);
  PutLe16(out, identifier);
  out.push_back(0x00);  // sub-command
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::optional<nlohmann::json> DecodeCbor(const Bytes& message, std::size_t from) {
  try {
    return nlohmann::json::from_cbor(message.begin() + static_cast<std::ptrdiff_t>(from), message.end());
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

std::optional<GatewayMessage> DecodeSetting(const Bytes& message) {
  if (message.size() < 5) return std::nullopt;
  GatewayMessage decoded;
  switch (Get16(message, 3)) {
    case kGatewayInfo:
      if (message.size() != 13) return std::nullopt;
      decoded.kind = GatewayMessage::Kind::kBeaconOfGateway;
      decoded.gateway_address = Get16(message, 5);
      decoded.group_address = Get16(message, 7);
      return decoded;
    case kSensorFold: {
      auto body = DecodeCbor(message, 5);
      if (!body || !body->is_object()) return std::nullopt;
      decoded.kind = GatewayMessage::Kind::kFolds;
      decoded.body = std::move(*body);
      return decoded;
    }
    case kBeaconCtrl:
      if (message.size() != 6) return std::nullopt;
      decoded.kind = GatewayMessage::Kind::kBeacon;
      decoded.beacon_enabled = message[5] != 0;
      return decoded;
    case kFirmware:
      if (message.size() == 18 && message[5] == kFirmwareOffer) {
        decoded.kind = GatewayMessage::Kind::kOffer;
        decoded.firmware_type = Get16(message, 6);
        std::copy_n(message.begin() + 8, 4, decoded.version.parts.begin());
        decoded.firmware_size = Get16(message, 12);
        return decoded;
      }
      if (message.size() == 26 && message[5] == kFirmwareBlock) {
        decoded.kind = GatewayMessage::Kind::kBlock;
        decoded.firmware_type = Get16(message, 6);
        decoded.block_index = Get16(message, 8);
        decoded.block.assign(message.begin() + 10, message.end());
        return decoded;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string FirmwareVersion::Text() const {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "+" +
         std::to_string(parts[3]);
}

std::optional<GatewayMessage> Decode(const Bytes& message) {
  if (message.size() < 3 || message[1] != kCompanyLow || message[2] != kCompanyHigh) return std::nullopt;
  if (message[0] == kSettingSet) return DecodeSetting(message);
  if (message[0] != kDataGet) return std::nullopt;
  auto body = DecodeCbor(message, 3);
  if (!body) return std::nullopt;
  GatewayMessage decoded;
  decoded.kind = GatewayMessage::Kind::kDataGet;
  decoded.body = std::move(*body);
  return decoded;
}

Bytes SensorDataStatus(const nlohmann::json& body) {
  const Bytes cbor = nlohmann::json::to_cbor(body);
  const std::size_t length = std::clamp<std::size_t>(cbor.size(), 1, kMaxSensorBody);
  Bytes out = Opcode(kDataStatus);
  // Header: body length − 1 in bits 1–7 of the first byte, then two bytes the gateway carries.
  out.push_back(static_cast<std::uint8_t>((length - 1) << 1));
  out.push_back(0x00);
  out.push_back(0x00);
  out.insert(out.end(), cbor.begin(), cbor.begin() + static_cast<std::ptrdiff_t>(std::min(cbor.size(), length)));
  return out;
}

Bytes Announcement(const std::array<std::uint8_t, 6>& device_id, std::uint16_t device_type,
                   const FirmwareVersion& version, std::uint16_t extra) {
  Bytes data(device_id.begin(), device_id.end());
  PutLe16(data, device_type);
  data.insert(data.end(), version.parts.begin(), version.parts.end());
  PutLe16(data, extra);
  return SettingStatus(kGatewayInfo, data);
}

Bytes FoldsAcknowledgement(const nlohmann::json& folds) { return SettingStatus(kSensorFold, nlohmann::json::to_cbor(folds)); }

Bytes BeaconAcknowledgement(bool enabled) { return SettingStatus(kBeaconCtrl, {static_cast<std::uint8_t>(enabled)}); }

Bytes BlockRequest(std::uint16_t firmware_type, std::uint16_t block_index) {
  Bytes data{0x00};
  PutLe16(data, firmware_type);
  PutLe16(data, block_index);
  return SettingStatus(kFirmware, data);
}

Bytes Leave() { return SettingStatus(kLeaveGateway, {}); }

}  // namespace sim::meshd::sensor_wire
