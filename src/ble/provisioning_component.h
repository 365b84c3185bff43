#pragma once

#include <string>

#include <nlohmann/json.hpp>

// What the application calls on its BLE provisioning component (BluetoothLE in the daemon).
class ProvisioningComponent {
 public:
  virtual ~ProvisioningComponent() = default;

  // Publishes the provisioning service and advertisement; false when it could not.
  virtual bool Initialize() = 0;
  // Withdraws them and leaves the bus.
  virtual void Deinitialize() = 0;
  // The "results" array of a Wi-Fi scan, for the phone.
  virtual void PutWirelessAPList(const nlohmann::json& results) = 0;
  // The Wi-Fi scan ended without results (the call failed or its reply had none).
  virtual void WirelessScanFailed() = 0;
  // The outcome of a Wi-Fi set-up, for the phone.
  virtual void PutWirelessConnectionEvent(bool connected, const std::string& address) = 0;
  // The button was pressed: the provisioning window, when it has a length, opens again.
  virtual void OpenProvisioningWindow() = 0;
};
