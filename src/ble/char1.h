#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ble/bluetooth_le.h"
#include "ble/gatt_characteristic1.h"

// The characteristic the replies leave on: each reply becomes its value and a value change,
// which bluetoothd sends to a subscribed phone as a notification.
class BluetoothLE::Char1 : public org::bluez::GattCharacteristic1 {
 public:
  Char1(sdbus::IConnection& connection, const std::string& service_path);
  // Stores the bytes as the value and announces the change, subscribed phone or not.
  void Notify(const std::vector<std::uint8_t>& bytes);
};
