#include "ble/char2.h"

#include <exception>

#include "ble/gatt_identifiers.h"
#include "log/log.h"

BluetoothLE::Char2::Char2(sdbus::IConnection& connection, const std::string& service_path)
    : GattCharacteristic1(connection, service_path, ble::kChar2Name, ble::kChar2Uuid, false, false, true) {
  AddFlag("write-without-response");
}

void BluetoothLE::Char2::SetWriteHandler(WriteHandler handler) {
  const std::lock_guard<std::mutex> guard(handler_lock_);
  handler_ = std::move(handler);
}

void BluetoothLE::Char2::WriteValue(const std::vector<std::uint8_t>& value,
                                    const std::map<std::string, sdbus::Variant>& /*options*/) {
  {
    const std::lock_guard<std::mutex> guard(handler_lock_);
    if (handler_) {
      try {
        handler_(value);
      } catch (const std::exception& error) {
        LOG_ERROR << error.what();
      }
    }
  }
  StoreAndAnnounce(value);
}
