// The component's threads and the calls the application makes into it.

#include "ble/bluetooth_le.h"

#include "ble/adapter1.h"
#include "ble/char1.h"
#include "ble/char2.h"
#include "ble/connect_event.h"
#include "ble/disconnect_event.h"
#include "ble/gatt_application.h"
#include "ble/gatt_manager1.h"
#include "ble/gatt_service1.h"
#include "ble/le_advertisement1.h"
#include "ble/le_advertising_manager1.h"
#include "ble/provisioning_protocol.h"
#include "log/log.h"

BluetoothLE::BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, ProvisioningSettings& settings,
                         BlePlatform platform)
    : application_(std::move(application)),
      platform_(std::move(platform)),
      settings_(settings),
      transmit_(platform_.transmit_pace, [this](Message reply) { NotifyPhone(reply); }),
      protocol_(std::make_unique<ble::ProvisioningProtocol>(
          application_, settings_, [this](ble::Bytes reply) { transmit_.Push(reply); }, platform_)),
      receive_(std::chrono::milliseconds(0), [this](Message request) { protocol_->HandleRequest(request); }) {}

BluetoothLE::~BluetoothLE() {
  transmit_.Stop();
  receive_.Stop();
  Deinitialize();
}

void BluetoothLE::NotifyPhone(const Message& reply) {
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  if (!char1_) return;
  try {
    char1_->Notify(reply);
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Notify failed: " << error.getMessage();
  }
}

void BluetoothLE::PutWirelessAPList(const nlohmann::json& results) { protocol_->PutWirelessAPList(results); }

void BluetoothLE::PutWirelessConnectionEvent(bool connected, const std::string& /*address*/) {
  protocol_->PutWirelessConnectionEvent(connected);
}
