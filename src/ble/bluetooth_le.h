#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "mailbox/depesche_poster.h"

// BLE provisioning: the GATT service a phone uses to set the gateway up. The operations
// are virtual so the application can be tested with a double.
class BluetoothLE : public mailbox::DepescheSender {
 public:
  explicit BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application);
  virtual ~BluetoothLE();
  BluetoothLE(const BluetoothLE&) = delete;
  BluetoothLE& operator=(const BluetoothLE&) = delete;

  // Publishes the GATT application and advertisement; false on failure.
  virtual bool Initialize();
  // Withdraws the GATT application and advertisement.
  virtual void Deinitialize();
  // The "results" array of a Wi-Fi scan, for the phone.
  virtual void PutWirelessAPList(const nlohmann::json& results);
  // The outcome of a Wi-Fi set-up, for the phone.
  virtual void PutWirelessConnectionEvent(bool connected, const std::string& address);

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;
};
