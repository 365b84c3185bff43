// Publishing the provisioning service and advertisement through bluetoothd, the first-boot
// identity read, and the phone's connection state.

#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/adapter1.h"
#include "ble/bluetooth_le.h"
#include "ble/char1.h"
#include "ble/char2.h"
#include "ble/connect_event.h"
#include "ble/device_identity.h"
#include "ble/disconnect_event.h"
#include "ble/gatt_application.h"
#include "ble/gatt_identifiers.h"
#include "ble/gatt_manager1.h"
#include "ble/gatt_service1.h"
#include "ble/le_advertisement1.h"
#include "ble/le_advertising_manager1.h"
#include "ble/provisioning_protocol.h"
#include "hci/hci_socket_controller.h"
#include "ipc/ubus.h"
#include "log/log.h"
#include "nvram/provisioning_settings.h"

namespace {

constexpr int kIdentityAttempts = 10;
constexpr std::int32_t kRebootTimeoutSeconds = 30;

std::shared_ptr<sdbus::IConnection> Connect(const std::string& address) {
  if (address.empty()) return sdbus::createSystemBusConnection();
  return sdbus::createSessionBusConnectionWithAddress(address);
}

std::string ErrorText(const std::optional<sdbus::Error>& error) {
  return error->getName() + " with message " + error->getMessage();
}

}  // namespace

bool BluetoothLE::Initialize() {
  try {
    {
      const std::lock_guard<std::mutex> guard(dbus_lock_);
      connection_ = Connect(platform_.bus_address);
    }
    PowerAdapter();
    if (!ReadIdentityIfFirstBoot()) return false;
    PublishGattApplication();
    PublishAdvertisement();
    LOG_DEBUG << "bus name : " << connection_->getUniqueName();
    {
      const std::lock_guard<std::mutex> guard(dbus_lock_);
      connect_event_ = std::make_unique<ConnectEvent>(
          *connection_, [this](const std::string& path, bool connected) { OnConnect(path, connected); });
    }
    connection_->enterEventLoopAsync();
  } catch (const sdbus::Error& error) {
    // bluetoothd or the bus is missing: the phone cannot reach the gateway
    LOG_ERROR << "Bluetooth LE set-up failed: " << error.getName() << " with message " << error.getMessage();
    return false;
  }
  return true;
}

void BluetoothLE::PowerAdapter() {
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  adapter_ = std::make_unique<Adapter>(*connection_, ble::kAdapterPath);
  adapter_->Powered(true);
  LOG_DEBUG << "Powered " << adapter_->Powered();
  adapter_->Discoverable(false);
  LOG_DEBUG << "Discoverable " << adapter_->Discoverable();
  adapter_->Pairable(false);
  LOG_DEBUG << "Pairable " << adapter_->Pairable();
}

bool BluetoothLE::ReadIdentityIfFirstBoot() {
  if (!settings_.FirstBoot()) return true;
  const auto controller = platform_.hci ? platform_.hci : std::make_shared<HciSocketController>();
  for (int attempt = 0; attempt < kIdentityAttempts; ++attempt) {
    const auto identity = ble::ReadAddresses(*controller, platform_.identity_wait);
    if (identity) {
      settings_.DeviceID(identity->device_id);
      settings_.SerialNumber(identity->serial_number);
      settings_.ClearFirstBoot();
      settings_.Hostname("quellaron-" + identity->device_id);
      ipc::UBUS(kRebootTimeoutSeconds, platform_.ubus_socket).Call("system", "reboot", "{}", nullptr);
      return true;
    }
    LOG_ERROR << "org::bluez::ReadAddresses return false";
    std::this_thread::sleep_for(platform_.identity_retry);
  }
  return false;
}

void BluetoothLE::PublishGattApplication() {
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  manager_ = std::make_unique<Manager>(*connection_, ble::kAdapterPath);
  gatt_application_ = std::make_shared<Application>(*connection_, ble::kApplicationPath);
  service_ = std::make_shared<Service>(*connection_, ble::kServicePath, ble::kServiceUuid);
  char1_ = std::make_shared<Char1>(*connection_, ble::kServicePath);
  char2_ = std::make_shared<Char2>(*connection_, ble::kServicePath);
  char2_->SetWriteHandler([this](std::vector<std::uint8_t> value) { receive_.Push(value); });
  service_->AddCharacteristic(char1_);
  service_->AddCharacteristic(char2_);
  gatt_application_->AddService(service_);
  manager_->RegisterApplicationAsync(ble::kApplicationPath, [](const std::optional<sdbus::Error>& error) {
    if (error) {
      LOG_ERROR << "Error registering application " << ErrorText(error);
    } else {
      LOG_DEBUG << "Application registered.";
    }
  });
}

void BluetoothLE::PublishAdvertisement() {
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  adv_manager_ = std::make_shared<AdvManager>(*connection_, ble::kAdapterPath);
  LOG_DEBUG << "ActiveInstances : " << static_cast<int>(adv_manager_->ActiveInstances());
  LOG_DEBUG << "SupportedInstances : " << static_cast<int>(adv_manager_->SupportedInstances());
  const std::string local_name = ble::kLocalNamePrefix + settings_.DeviceID();
  advertisement_ = std::make_shared<org::bluez::LEAdvertisement1>(*connection_, ble::kAdvertisementPath,
                                                                   [] { LOG_DEBUG << "advertisement released"; });
  advertisement_->LocalName(local_name)
      .ServiceUUIDs({ble::kServiceUuid})
      .Discoverable(true)
      .DiscoverableTimeout(0)
      .MinInterval(20)
      .MaxInterval(100)
      .TxPower(4);
  advertisement_->Register(adv_manager_, [](const std::optional<sdbus::Error>& error) {
    if (error) {
      LOG_ERROR << "Error registering advertisement " << ErrorText(error);
    } else {
      LOG_DEBUG << "Advertisement registered";
    }
  });
}

void BluetoothLE::Deinitialize() {
  std::shared_ptr<sdbus::IConnection> connection;
  {
    const std::lock_guard<std::mutex> guard(dbus_lock_);
    if (!connection_) return;
    connection = connection_;
  }
  try {
    if (advertisement_) advertisement_->Unregister();
    if (manager_) manager_->UnregisterApplication(sdbus::ObjectPath(ble::kApplicationPath));
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Error unregistering application " << error.getName() << " with message " << error.getMessage();
  }
  // The event loop's handlers take dbus_lock_: the loop ends before the lock is taken here.
  connection->leaveEventLoop();
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  if (gatt_application_ && service_) gatt_application_->RemoveService(service_);
  if (service_) {
    if (char1_) service_->RemoveCharacteristic(char1_);
    if (char2_) service_->RemoveCharacteristic(char2_);
  }
  disconnect_event_.reset();
  connect_event_.reset();
  advertisement_.reset();
  adv_manager_.reset();
  char2_.reset();
  char1_.reset();
  service_.reset();
  gatt_application_.reset();
  manager_.reset();
  adapter_.reset();
  connection_.reset();
}

void BluetoothLE::OnConnect(const std::string& path, bool connected) {
  LOG_VERBOSE << "ConnectEvent : " << connected;
  const std::lock_guard<std::mutex> guard(dbus_lock_);
  if (!connection_) return;
  disconnect_event_.reset();
  disconnect_event_ = std::make_unique<DisconnectEvent>(*connection_, path,
                                                        [this](bool changed) { OnConnectionChanged(changed); });
}

// Any change of the watched device's "Connected", whatever its new value.
void BluetoothLE::OnConnectionChanged(bool connected) {
  LOG_VERBOSE << "DisconnectEvent : " << connected;
  protocol_->PhoneConnectionChanged();
}
