#pragma once

// The mesh component's services as the tests need them: a cloud that takes everything and
// knows no device, and a firmware manager without images.

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "ota/firmware_source.h"
#include "server/cloud_client.h"

namespace mesh_test {

// A cloud that takes every report and heartbeat and knows no device.
class SilentCloud : public CloudClient {
 public:
  void HeartBeat(const std::string& /*json*/) override {}
  void Report(const std::string& /*json*/) override {}
  std::tuple<bool, bool, nlohmann::json> DeviceBeaconFolds(const std::string& /*device_id*/) override {
    return {false, false, nullptr};
  }
  std::string PLCInfo(const std::string& /*device_id*/) override { return {}; }
  bool FirmwareConfigTest(nlohmann::json& /*config*/) override { return false; }
};

// A firmware manager without images.
class NoFirmware : public FirmwareSource {
 public:
  std::vector<FirmwareListEntry> FirmwareList() const override { return {}; }
  bool FirmwareBlock(std::uint16_t /*address*/, int /*type*/, int /*index*/, ota::Block& /*output*/) override {
    return false;
  }
};

}  // namespace mesh_test
