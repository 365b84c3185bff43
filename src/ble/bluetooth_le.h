#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ble/ble_platform.h"
#include "ble/provisioning_component.h"
#include "mailbox/depesche_poster.h"
#include "queue/paced_queue.h"

class ProvisioningSettings;

namespace sdbus {
class IConnection;
}
namespace org::bluez {
class Adapter1;
class GattManager1;
class GattApplication;
class GattService1;
class LEAdvertisingManager1;
class LEAdvertisement1;
}  // namespace org::bluez
namespace ble {
class ProvisioningProtocol;
}

// BLE provisioning: the GATT service and advertisement through which a phone sets the
// gateway up, published through bluetoothd on the system D-Bus. The phone writes requests
// into char2; the replies leave as value changes (notifications) of char1, one every
// 500 ms. The gateway's identity and the mesh credentials live in `settings` (the
// configuration store in the daemon; it outlives the component).
class BluetoothLE : public ProvisioningComponent, public mailbox::DepescheSender {
 public:
  class Char1;
  class Char2;
  class ConnectEvent;
  class DisconnectEvent;
  using Adapter = org::bluez::Adapter1;
  using Manager = org::bluez::GattManager1;
  using Application = org::bluez::GattApplication;
  using Service = org::bluez::GattService1;
  using AdvManager = org::bluez::LEAdvertisingManager1;

  // Starts the transmit and receive threads; no D-Bus work is done here.
  BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, ProvisioningSettings& settings,
              BlePlatform platform = BlePlatform{});
  // Ends the transmit and receive threads, then withdraws from the bus.
  ~BluetoothLE() override;
  BluetoothLE(const BluetoothLE&) = delete;
  BluetoothLE& operator=(const BluetoothLE&) = delete;

  // Publishes the GATT application and advertisement (and, on the first boot, reads the
  // gateway's identity from the controller); false when the identity cannot be read.
  bool Initialize() override;
  // Withdraws the GATT application and advertisement and leaves the bus. The threads keep
  // running.
  void Deinitialize() override;
  // The "results" array of a Wi-Fi scan, for the phone.
  void PutWirelessAPList(const nlohmann::json& results) override;
  // The outcome of a Wi-Fi set-up, for the phone (the address is not sent).
  void PutWirelessConnectionEvent(bool connected, const std::string& address) override;

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  using Message = std::vector<std::uint8_t>;

  // Sends one reply to the phone as a notification of char1 (none without a phone's service).
  void NotifyPhone(const Message& reply);
  // Reads and stores the identity on the first boot; false after ten failed attempts.
  bool ReadIdentityIfFirstBoot();
  void PowerAdapter();
  void PublishGattApplication();
  void PublishAdvertisement();
  void OnConnect(const std::string& path, bool connected);
  void OnConnectionChanged(bool connected);

  const BlePlatform platform_;
  ProvisioningSettings& settings_;
  // The D-Bus objects; dbus_lock_ guards replacing them and every use from the threads.
  std::mutex dbus_lock_;
  std::shared_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<Adapter> adapter_;
  std::unique_ptr<Manager> manager_;
  std::shared_ptr<Application> gatt_application_;
  std::shared_ptr<Service> service_;
  std::shared_ptr<Char1> char1_;
  std::shared_ptr<Char2> char2_;
  std::shared_ptr<AdvManager> adv_manager_;
  std::shared_ptr<org::bluez::LEAdvertisement1> advertisement_;
  std::unique_ptr<ConnectEvent> connect_event_;
  std::unique_ptr<DisconnectEvent> disconnect_event_;

  // The replies, one notification per transmit pace, in queued order (transmit thread).
  queue::PacedQueue<Message> transmit_;
  std::unique_ptr<ble::ProvisioningProtocol> protocol_;
  // The phone's requests, handled one after the other as they arrive (receive thread).
  queue::PacedQueue<Message> receive_;
};
