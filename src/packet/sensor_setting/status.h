#pragma once

// Sensor-setting status messages from nodes (opcode C4 F1 05, already consumed).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/byte_reader.h"

namespace packet::sensor_setting::status {

// Identifier, sub-command and the data that follows. The caller gives the parameter length;
// a length below the 3 header bytes, or data longer than 255 bytes, is refused before reading.
class Header {
 public:
  static constexpr std::uint32_t kHeaderLength = 3;
  static constexpr std::size_t kMaxDataLength = 255;

  explicit Header(std::size_t parameter_length = 0) : parameter_length_(parameter_length) {}
  virtual ~Header() = default;
  virtual void Deserialize(ByteReader& reader);

  std::uint16_t Identifier = 0;
  std::uint8_t SubCommand = 0;
  std::uint8_t DataLength = 0;
  std::vector<unsigned char> Data;
  std::uint32_t HeaderLength = kHeaderLength;

 private:
  std::size_t parameter_length_;
};

// Node announcement (14 bytes).
class DeviceInfo {
 public:
  virtual ~DeviceInfo() = default;
  virtual void Deserialize(ByteReader& reader);

  std::string DeviceID;  // 12 lowercase hexadecimal digits, bytes in wire order
  std::uint16_t DeviceType = 0;
  std::string Version;  // "major.minor.patch+build"
  std::uint16_t Extra = 0;
};

// A node's echo of its folds: the whole data is one CBOR item; a "CH" member becomes the channel.
class DeviceFolds {
 public:
  explicit DeviceFolds(std::size_t length = 0) : Length(length) {}
  virtual ~DeviceFolds() = default;
  virtual void Deserialize(ByteReader& reader);

  std::size_t Length;
  nlohmann::json Folds;
  std::int32_t Channel = 0;
};

// Firmware block request (5 bytes).
class OTA {
 public:
  virtual ~OTA() = default;
  virtual void Deserialize(ByteReader& reader);

  std::uint8_t Command = 0;  // carried, not interpreted
  std::uint16_t FirmwareType = 0;
  std::uint16_t BlockIndex = 0;
};

}  // namespace packet::sensor_setting::status
