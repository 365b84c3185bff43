#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "meshd/node_state.h"

// The vendor messages between the gateway and its sensor nodes, as a node's firmware writes
// and reads them: three opcode bytes (0xC0 + number, then the company id 0x05F1 little-endian),
// little-endian integers, CBOR bodies.
namespace sim::meshd::sensor_wire {

constexpr std::uint16_t kAnnounceGroup = 0xC8C8;

constexpr std::uint16_t kGatewayInfo = 0x2001;
constexpr std::uint16_t kSensorFold = 0x2002;
constexpr std::uint16_t kBeaconCtrl = 0x2006;
constexpr std::uint16_t kFirmware = 0x2007;
constexpr std::uint16_t kLeaveGateway = 0x2009;

constexpr std::uint8_t kFirmwareOffer = 0xFC;
constexpr std::uint8_t kFirmwareBlock = 0xFB;
constexpr std::size_t kBlockSize = 16;

struct FirmwareVersion {
  std::array<std::uint8_t, 4> parts{};  // major, minor, patch, build

  std::string Text() const;  // "1.2.3+4"
  bool operator<(const FirmwareVersion& other) const { return parts < other.parts; }
  bool operator==(const FirmwareVersion& other) const { return parts == other.parts; }
};

// What the gateway sends a node, decoded.
struct GatewayMessage {
  enum class Kind { kBeaconOfGateway, kFolds, kBeacon, kOffer, kBlock, kDataGet };
  Kind kind = Kind::kBeaconOfGateway;
  std::uint16_t gateway_address = 0;  // GatewayInfo
  std::uint16_t group_address = 0;    // GatewayInfo
  nlohmann::json body;                // folds (with "CH") or the sensor-data get
  bool beacon_enabled = false;
  std::uint16_t firmware_type = 0;
  FirmwareVersion version;            // offer
  std::uint16_t firmware_size = 0;    // offer: the image size in 16-byte blocks
  std::uint16_t block_index = 0;      // block
  Bytes block;                        // block: 16 bytes
};

// Nothing for bytes a node's firmware would not take (unknown opcode, short, bad CBOR).
std::optional<GatewayMessage> Decode(const Bytes& message);

// Node to gateway.
Bytes SensorDataStatus(const nlohmann::json& body);
Bytes Announcement(const std::array<std::uint8_t, 6>& device_id, std::uint16_t device_type,
                   const FirmwareVersion& version, std::uint16_t extra);
Bytes FoldsAcknowledgement(const nlohmann::json& folds);
Bytes BeaconAcknowledgement(bool enabled);
Bytes BlockRequest(std::uint16_t firmware_type, std::uint16_t block_index);
Bytes Leave();

}  // namespace sim::meshd::sensor_wire
