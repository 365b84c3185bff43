#include "ble/publication.h"

#include <sdbus-c++/sdbus-c++.h>

#include "ble/adapter1.h"
#include "ble/bluez_presence.h"
#include "ble/char1.h"
#include "ble/char2.h"
#include "ble/connect_event.h"
#include "ble/disconnect_event.h"
#include "ble/gatt_application.h"
#include "ble/gatt_identifiers.h"
#include "ble/gatt_manager1.h"
#include "ble/gatt_service1.h"
#include "ble/le_advertisement1.h"
#include "ble/le_advertising_manager1.h"
#include "log/log.h"

namespace ble {

namespace {

std::string ErrorText(const sdbus::Error& error) { return error.getName() + " with message " + error.getMessage(); }

}  // namespace

Publication::Publication(const std::string& bus_address, Handlers handlers)
    : handlers_(std::move(handlers)), connection_(ConnectToBus(bus_address)) {}

Publication::~Publication() { Withdraw(); }

void Publication::PowerAdapter() {
  adapter_ = std::make_unique<BluetoothLE::Adapter>(*connection_, kAdapterPath);
  adapter_->Powered(true);
  LOG_DEBUG << "Powered " << adapter_->Powered();
  adapter_->Discoverable(false);
  LOG_DEBUG << "Discoverable " << adapter_->Discoverable();
  adapter_->Pairable(false);
  LOG_DEBUG << "Pairable " << adapter_->Pairable();
}

void Publication::PublishGattApplication() {
  manager_ = std::make_unique<BluetoothLE::Manager>(*connection_, kAdapterPath);
  gatt_application_ = std::make_shared<BluetoothLE::Application>(*connection_, kApplicationPath);
  service_ = std::make_shared<BluetoothLE::Service>(*connection_, kServicePath, kServiceUuid);
  char1_ = std::make_shared<BluetoothLE::Char1>(*connection_, kServicePath);
  char2_ = std::make_shared<BluetoothLE::Char2>(*connection_, kServicePath);
  char2_->SetWriteHandler([this](std::vector<std::uint8_t> value) { handlers_.written(value); });
  service_->AddCharacteristic(char1_);
  service_->AddCharacteristic(char2_);
  gatt_application_->AddService(service_);
  manager_->RegisterApplicationAsync(kApplicationPath, [this](const std::optional<sdbus::Error>& error) {
    OnRegistered(error, "Application registered.", "Error registering application ");
  });
}

void Publication::StartAdvertising(const std::string& local_name) {
  if (!adv_manager_) {
    adv_manager_ = std::make_shared<BluetoothLE::AdvManager>(*connection_, kAdapterPath);
    LOG_DEBUG << "ActiveInstances : " << static_cast<int>(adv_manager_->ActiveInstances());
    LOG_DEBUG << "SupportedInstances : " << static_cast<int>(adv_manager_->SupportedInstances());
  }
  // A fresh object each time: an advertisement withdrawn from the bus loses its properties.
  auto advertisement = std::make_shared<org::bluez::LEAdvertisement1>(*connection_, kAdvertisementPath,
                                                                      [] { LOG_DEBUG << "advertisement released"; });
  advertisement->LocalName(local_name)
      .ServiceUUIDs({kServiceUuid})
      .Discoverable(true)
      .DiscoverableTimeout(0)
      .MinInterval(20)
      .MaxInterval(100)
      .TxPower(4);
  advertisement_ = advertisement;
  advertisement->Register(adv_manager_, [this](const std::optional<sdbus::Error>& error) {
    OnRegistered(error, "Advertisement registered", "Error registering advertisement ");
  });
}

void Publication::StopAdvertising() {
  if (!advertisement_) return;
  advertisement_->Unregister();
  advertisement_.reset();
}

void Publication::Listen() {
  connect_event_ = std::make_unique<BluetoothLE::ConnectEvent>(
      *connection_, [this](const std::string& path, bool connected) { OnConnect(path, connected); });
  connection_->enterEventLoopAsync();
  listening_ = true;
}

void Publication::Notify(const Bytes& reply) {
  if (!char1_) return;
  try {
    char1_->Notify(reply);
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Notify failed: " << error.getMessage();
  }
}

std::string Publication::BusName() const { return connection_->getUniqueName(); }

// On the event-loop thread: a phone appeared; its "Connected" changes are watched from now on.
void Publication::OnConnect(const std::string& path, bool connected) {
  LOG_VERBOSE << "ConnectEvent : " << connected;
  disconnect_event_.reset();
  disconnect_event_ =
      std::make_unique<BluetoothLE::DisconnectEvent>(*connection_, path, handlers_.connection_changed);
}

// On the event-loop thread: bluetoothd's answer to a registration.
void Publication::OnRegistered(const std::optional<sdbus::Error>& error, const char* registered,
                               const char* refused) {
  if (!error) {
    LOG_DEBUG << registered;
    return;
  }
  LOG_ERROR << refused << ErrorText(*error);
  if (handlers_.refused) handlers_.refused();
}

// bluetoothd is told first, while the event loop still answers its calls; the objects go
// once the loop has ended.
void Publication::Withdraw() {
  try {
    StopAdvertising();
    if (manager_) manager_->UnregisterApplication(sdbus::ObjectPath(kApplicationPath));
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Error unregistering application " << ErrorText(error);
  }
  if (listening_) connection_->leaveEventLoop();
  if (gatt_application_ && service_) gatt_application_->RemoveService(service_);
  if (service_) {
    if (char1_) service_->RemoveCharacteristic(char1_);
    if (char2_) service_->RemoveCharacteristic(char2_);
  }
  disconnect_event_.reset();
  connect_event_.reset();
  adv_manager_.reset();
  char2_.reset();
  char1_.reset();
  service_.reset();
  gatt_application_.reset();
  manager_.reset();
  adapter_.reset();
}

}  // namespace ble
