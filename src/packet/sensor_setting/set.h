#pragma once

// Sensor-setting messages the gateway sends to nodes (opcode C3 F1 05, then the identifier).

#include <array>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/model_opcode.h"
#include "packet/sensor_setting/setting_id.h"
#include "packet/unix_clock.h"

namespace packet::sensor_setting::set {

class Setting : public ModelOPCode {
 public:
  SettingId Identifier() const { return identifier_; }
  void Serialize(ByteWriter& writer) const override;

 protected:
  explicit Setting(SettingId identifier) : ModelOPCode(kSensorSettingSet), identifier_(identifier) {}

 private:
  SettingId identifier_;
};

// Gateway beacon: unicast and group address, then the UNIX time read when the bytes are written.
class GatewayInfo : public Setting {
 public:
  GatewayInfo(std::uint16_t net_addr = 0, std::uint16_t group_addr = 0, UnixClock clock = SystemUnixTime)
      : Setting(kGatewayInfo), NetAddr(net_addr), GroupAddr(group_addr), clock_(std::move(clock)) {}
  void Serialize(ByteWriter& writer) const override;

  std::uint16_t NetAddr;
  std::uint16_t GroupAddr;

 private:
  UnixClock clock_;
};

// A node's folds (kind name to interval in minutes) as a CBOR body; "CH" names a channel other than 0.
// Folds that are neither an object nor null cannot carry a channel and refuse to serialise.
class FoldsCtrl : public Setting {
 public:
  FoldsCtrl(nlohmann::json folds = nlohmann::json::object(), std::int32_t channel = 0);
  void Serialize(ByteWriter& writer) const override;

  const nlohmann::json& Folds() const { return folds_; }
  std::int32_t Channel() const { return channel_; }

 private:
  nlohmann::json folds_;
  std::int32_t channel_;
};

class BeaconCtrl : public Setting {
 public:
  explicit BeaconCtrl(bool enable = false) : Setting(kBeaconCtrl), Enable(enable) {}
  void Serialize(ByteWriter& writer) const override;

  bool Enable;
};

// Firmware announcement (sub-command 0xFC).
class OTA : public Setting {
 public:
  static constexpr std::uint8_t kSubCommand = 0xFC;
  using Nonce = std::array<std::uint8_t, 4>;

  OTA() : Setting(kFirmware) {}
  void Serialize(ByteWriter& writer) const override;

  std::uint16_t FirmwareType = 0;
  std::uint8_t Major = 0;
  std::uint8_t Minor = 0;
  std::uint8_t Patch = 0;
  std::uint8_t Build = 0;
  std::uint16_t FirmwareSize = 0;
  Nonce SessionNonce{};
};

// One 16-byte firmware block (sub-command 0xFB).
class OTAData : public Setting {
 public:
  static constexpr std::uint8_t kSubCommand = 0xFB;
  static constexpr std::size_t kBlockSize = 16;
  using Block = std::array<std::uint8_t, kBlockSize>;

  OTAData(std::uint16_t firmware_type = 0, std::uint16_t block_index = 0, const Block& block = {})
      : Setting(kFirmware), FirmwareType(firmware_type), BlockIndex(block_index), BlockData(block) {}
  void Serialize(ByteWriter& writer) const override;

  std::uint16_t FirmwareType;
  std::uint16_t BlockIndex;
  Block BlockData;
};

}  // namespace packet::sensor_setting::set
