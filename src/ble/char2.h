#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ble/bluetooth_le.h"
#include "ble/gatt_characteristic1.h"

// The characteristic the phone writes its requests into.
class BluetoothLE::Char2 : public org::bluez::GattCharacteristic1 {
 public:
  using WriteHandler = std::function<void(std::vector<std::uint8_t>)>;

  Char2(sdbus::IConnection& connection, const std::string& service_path);
  void SetWriteHandler(WriteHandler handler);
  // Hands a copy to the write handler (an exception from it is logged), then stores the
  // value and announces the change.
  void WriteValue(const std::vector<std::uint8_t>& value, const std::map<std::string, sdbus::Variant>& options) override;

 private:
  std::mutex handler_lock_;
  WriteHandler handler_;
};
