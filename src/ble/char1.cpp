#include "ble/char1.h"

#include "ble/gatt_identifiers.h"

BluetoothLE::Char1::Char1(sdbus::IConnection& connection, const std::string& service_path)
    : GattCharacteristic1(connection, service_path, ble::kChar1Name, ble::kChar1Uuid, false, false, true) {
  AddFlag("notify");
}

void BluetoothLE::Char1::Notify(const std::vector<std::uint8_t>& bytes) { StoreAndAnnounce(bytes); }
