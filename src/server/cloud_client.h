#pragma once

#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

// What the components ask of the cloud's REST client. The daemon's is ServerAPI; tests hand
// in doubles.
class CloudClient {
 public:
  virtual ~CloudClient() = default;

  // Queue a heartbeat or a report (JSON text) for the REST worker.
  virtual void HeartBeat(const std::string& json) = 0;
  virtual void Report(const std::string& json) = 0;
  // (ok, ble_enabled, folds {sensor_type: fold}) of a device.
  virtual std::tuple<bool, bool, nlohmann::json> DeviceBeaconFolds(const std::string& device_id) = 0;
  // The PLC list of the gateway `device_id` (JSON text; empty when the request failed).
  virtual std::string PLCInfo(const std::string& device_id) = 0;
  // The firmware configuration document; false when it could not be fetched or parsed.
  virtual bool FirmwareConfigTest(nlohmann::json& config) = 0;
};
