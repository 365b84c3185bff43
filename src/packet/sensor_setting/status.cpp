#include "packet/sensor_setting/status.h"

#include <string>

#include "packet/cbor.h"
#include "packet/json_number.h"
#include "packet/wire_errors.h"

namespace packet::sensor_setting::status {

void Header::Deserialize(ByteReader& reader) {
  if (parameter_length_ < kHeaderLength) throw MalformedMessage("sensor setting shorter than its header");
  const std::size_t data_length = parameter_length_ - kHeaderLength;
  if (data_length > kMaxDataLength) {
    throw MalformedMessage("sensor setting data of " + std::to_string(data_length) + " bytes exceeds 255");
  }
  DataLength = static_cast<std::uint8_t>(data_length);
  Identifier = reader.U16();
  SubCommand = reader.U8();
  Data = reader.Raw(DataLength);
}

void DeviceInfo::Deserialize(ByteReader& reader) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  for (const unsigned char byte : reader.Raw(6)) {
    id += kDigits[byte >> 4];
    id += kDigits[byte & 0x0F];
  }
  const std::uint16_t type = reader.U16();
  const unsigned major = reader.U8();
  const unsigned minor = reader.U8();
  const unsigned patch = reader.U8();
  const unsigned build = reader.U8();
  Extra = reader.U16();
  DeviceID = std::move(id);
  DeviceType = type;
  Version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "+" +
            std::to_string(build);
}

void DeviceFolds::Deserialize(ByteReader& reader) {
  nlohmann::json folds = DecodeCborStrict(reader.Raw(Length));
  std::int32_t channel = 0;
  if (folds.is_object()) {
    const auto found = folds.find("CH");
    if (found != folds.end()) {
      channel = ToInt32(*found);
      folds.erase(found);
    }
  }
  Folds = std::move(folds);
  Channel = channel;
}

void OTA::Deserialize(ByteReader& reader) {
  Command = reader.U8();
  FirmwareType = reader.U16();
  BlockIndex = reader.U16();
}

}  // namespace packet::sensor_setting::status
