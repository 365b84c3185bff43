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

BluetoothLE::BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, BlePlatform platform)
    : application_(std::move(application)),
      platform_(std::move(platform)),
      protocol_(std::make_unique<ble::ProvisioningProtocol>(
          application_, [this](ble::Bytes reply) { tx_queue_.Push(reply); }, platform_)),
      tx_thread_([this] { MessageTxThread(); }),
      rx_thread_([this] { MessageRxThread(); }) {}

BluetoothLE::~BluetoothLE() {
  {
    const std::lock_guard<std::mutex> guard(pause_lock_);
    tx_running_ = false;
    rx_running_ = false;
  }
  pause_signal_.notify_all();
  tx_queue_.Close();
  rx_queue_.Close();
  tx_thread_.join();
  rx_thread_.join();
  Deinitialize();
}

// One notification at most every transmit pace, in queued order; idle, the thread sleeps
// until a reply is queued.
void BluetoothLE::MessageTxThread() {
  while (tx_running_) {
    if (!tx_queue_.Wait()) continue;
    const auto message = tx_queue_.Pop();
    {
      const std::lock_guard<std::mutex> guard(dbus_lock_);
      if (char1_) {
        try {
          char1_->Notify(message);
        } catch (const sdbus::Error& error) {
          LOG_ERROR << "Notify failed: " << error.getMessage();
        }
      }
    }
    Pause(platform_.transmit_pace);
  }
}

void BluetoothLE::MessageRxThread() {
  while (rx_running_) {
    if (!rx_queue_.Wait()) continue;
    protocol_->HandleRequest(rx_queue_.Pop());
  }
}

void BluetoothLE::Pause(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> guard(pause_lock_);
  pause_signal_.wait_for(guard, pause, [this] { return !tx_running_; });
}

void BluetoothLE::PutWirelessAPList(const nlohmann::json& results) { protocol_->PutWirelessAPList(results); }

void BluetoothLE::PutWirelessConnectionEvent(bool connected, const std::string& /*address*/) {
  protocol_->PutWirelessConnectionEvent(connected);
}
