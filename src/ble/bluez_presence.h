#pragma once

#include <functional>
#include <memory>
#include <string>

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace ble {

// The D-Bus connection to the bus at `address`: the system bus when it is empty.
std::unique_ptr<sdbus::IConnection> ConnectToBus(const std::string& address);

// Watches bluetoothd's bus name "org.bluez" on a connection of its own: `changed` runs on
// that connection's event-loop thread, with true when the name gets an owner and false when
// it loses it. The constructor throws sdbus::Error when the bus cannot be reached.
class BluezPresence {
 public:
  BluezPresence(const std::string& bus_address, std::function<void(bool present)> changed);
  ~BluezPresence();
  BluezPresence(const BluezPresence&) = delete;
  BluezPresence& operator=(const BluezPresence&) = delete;

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> bus_daemon_;
};

}  // namespace ble
