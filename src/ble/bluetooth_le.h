#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ble/ble_platform.h"
#include "mailbox/depesche_poster.h"
#include "queue/thread_safe_queue.h"

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
// 500 ms. The operations are virtual so the application can be tested with a double.
class BluetoothLE : public mailbox::DepescheSender {
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
  explicit BluetoothLE(std::shared_ptr<mailbox::DepeschePoster> application, BlePlatform platform = BlePlatform{});
  virtual ~BluetoothLE();
  BluetoothLE(const BluetoothLE&) = delete;
  BluetoothLE& operator=(const BluetoothLE&) = delete;

  // Publishes the GATT application and advertisement (and, on the first boot, reads the
  // gateway's identity from the controller); false when the identity cannot be read.
  virtual bool Initialize();
  // Withdraws the GATT application and advertisement and leaves the bus. The threads keep
  // running.
  virtual void Deinitialize();
  // The "results" array of a Wi-Fi scan, for the phone.
  virtual void PutWirelessAPList(const nlohmann::json& results);
  // The outcome of a Wi-Fi set-up, for the phone (the address is not sent).
  virtual void PutWirelessConnectionEvent(bool connected, const std::string& address);

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  void MessageTxThread();
  void MessageRxThread();
  // Reads and stores the identity on the first boot; false after ten failed attempts.
  bool ReadIdentityIfFirstBoot();
  void PowerAdapter();
  void PublishGattApplication();
  void PublishAdvertisement();
  void OnConnect(const std::string& path, bool connected);
  void OnConnectionChanged(bool connected);
  // Waits `pause`, or less when the component is shutting down.
  void Pause(std::chrono::milliseconds pause);

  const BlePlatform platform_;
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

  queue::ThreadSafeQueue<std::vector<std::uint8_t>> tx_queue_;
  queue::ThreadSafeQueue<std::vector<std::uint8_t>> rx_queue_;
  std::atomic<bool> tx_running_{true};
  std::atomic<bool> rx_running_{true};
  std::mutex pause_lock_;
  std::condition_variable pause_signal_;
  std::unique_ptr<ble::ProvisioningProtocol> protocol_;
  std::thread tx_thread_;
  std::thread rx_thread_;
};
