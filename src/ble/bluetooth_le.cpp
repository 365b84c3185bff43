#include "ble/bluetooth_le.h"

#include "log/log.h"

BluetoothLE::BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application)
    : application_(std::move(application)) {}

BluetoothLE::~BluetoothLE() = default;

bool BluetoothLE::Initialize() {
  LOG_ERROR << "Bluetooth LE provisioning is not available in this build";
  return false;
}

void BluetoothLE::Deinitialize() {}

void BluetoothLE::PutWirelessAPList(const nlohmann::json& /*results*/) {}

void BluetoothLE::PutWirelessConnectionEvent(bool /*connected*/, const std::string& /*address*/) {}
