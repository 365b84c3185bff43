// A vendor message from a node, decoded the way the mesh receive path does: payload, then the
// sensor data status or the sensor-setting header and its body by identifier.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet/model_payload.h"
#include "packet/sensor_data/status.h"
#include "packet/sensor_setting/setting_id.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"
#include "packet_fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

namespace {

void DecodeSetting(const std::vector<unsigned char>& parameters) {
  namespace status = packet::sensor_setting::status;
  status::Header header(parameters.size());
  if (!packet::Deserialization(header, parameters)) return;
  fuzz_support::Require(header.Data.size() == header.DataLength, "setting data length");
  switch (header.Identifier) {
    case packet::sensor_setting::kGatewayInfo: {
      status::DeviceInfo info;
      if (packet::Deserialization(info, header.Data)) fuzz_support::Require(info.DeviceID.size() == 12, "id text");
      break;
    }
    case packet::sensor_setting::kSensorFold: {
      status::DeviceFolds folds(header.DataLength);
      packet::Deserialization(folds, header.Data);
      break;
    }
    case packet::sensor_setting::kFirmware: {
      status::OTA request;
      packet::Deserialization(request, header.Data);
      break;
    }
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<unsigned char> message(data, data + size);
  packet::ModelPayload payload(message.size());
  if (!packet::Deserialization(payload, message)) return 0;
  fuzz_support::Require(payload.Parameters.size() + 3 == message.size(), "parameter length");
  switch (payload.Folded()) {
    case packet::kFoldedSensorDataStatus: {
      const auto reading = packet::Deserialization<packet::sensor_data::status::Data>(payload.Parameters);
      if (!reading.Value.is_null()) fuzz_support::Require(reading.Value.at("v").is_string(), "v text");
      break;
    }
    case packet::kFoldedSensorSettingStatus:
      DecodeSetting(payload.Parameters);
      break;
    default:
      break;
  }
  return 0;
}
