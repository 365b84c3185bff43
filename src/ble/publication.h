#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ble/bluetooth_le.h"
#include "ble/bluez_call.h"


namespace ble {

// What one set-up publishes through bluetoothd, on a D-Bus connection of its own: the
// adapter's settings, the GATT application with char1 and char2, the advertisement while it
// is wanted, and the watch of the phone's connection. The owner builds it step by step; a
// step throws sdbus::Error when the bus or bluetoothd refuses, and the owner then drops it.
// Destroying it withdraws everything it published.
//
// Threads: the steps and the advertising calls come from one thread at a time (the owner
// serialises them); Notify from the transmit thread; the handlers run on the connection's
// event-loop thread, which ends before anything is withdrawn. No lock is held across a
// D-Bus call that the event-loop thread could wait for.
class Publication {
 public:
  using Bytes = std::vector<std::uint8_t>;
  struct Handlers {
    std::function<void(const Bytes&)> written;      // a value the phone wrote into char2
    std::function<void(bool)> connection_changed;   // the watched phone's "Connected" changed
    std::function<void()> refused;                  // bluetoothd refused a registration
  };

  // Connects to the bus (the system bus when `bus_address` is empty).
  Publication(const std::string& bus_address, Handlers handlers);
  ~Publication();
  Publication(const Publication&) = delete;
  Publication& operator=(const Publication&) = delete;

  // Powers the adapter, not discoverable and not pairable, each read back for the log.
  void PowerAdapter();
  // Exports the service with char1 and char2 and registers it with bluetoothd.
  void PublishGattApplication();
  // Registers the advertisement with this local name; StopAdvertising withdraws it.
  void StartAdvertising(const std::string& local_name);
  void StopAdvertising();
  bool Advertising() const { return advertisement_ != nullptr; }
  // Watches for the phone and starts the connection's event loop.
  void Listen();
  // One reply to the phone, as a value change of char1.
  void Notify(const Bytes& reply);
  std::string BusName() const;

 private:
  void OnConnect(const std::string& path, bool connected);
  void OnRegistered(const std::optional<sdbus::Error>& error, const char* registered, const char* refused);
  void Withdraw();

  const Handlers handlers_;
  std::shared_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<BluetoothLE::Adapter> adapter_;
  std::unique_ptr<BluetoothLE::Manager> manager_;
  std::shared_ptr<BluetoothLE::Application> gatt_application_;
  std::shared_ptr<BluetoothLE::Service> service_;
  std::shared_ptr<BluetoothLE::Char1> char1_;
  std::shared_ptr<BluetoothLE::Char2> char2_;
  std::shared_ptr<BluetoothLE::AdvManager> adv_manager_;
  std::shared_ptr<org::bluez::LEAdvertisement1> advertisement_;
  std::unique_ptr<BluetoothLE::ConnectEvent> connect_event_;
  // Replaced on the event-loop thread only; destroyed after the loop has ended.
  std::unique_ptr<BluetoothLE::DisconnectEvent> disconnect_event_;
  bool listening_ = false;
};

}  // namespace ble
