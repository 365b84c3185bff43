#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluetooth_le.h"

// Watches bluetoothd's object manager for a device that appears with its "Connected" state.
class BluetoothLE::ConnectEvent : public sdbus::ProxyInterfaces<sdbus::ObjectManager_proxy> {
 public:
  using Callback = std::function<void(const std::string& path, bool connected)>;

  ConnectEvent(sdbus::IConnection& connection, Callback callback);
  virtual ~ConnectEvent();
  ConnectEvent(const ConnectEvent&) = delete;
  ConnectEvent& operator=(const ConnectEvent&) = delete;

 private:
  void onInterfacesAdded(const sdbus::ObjectPath& path,
                         const std::map<std::string, std::map<std::string, sdbus::Variant>>& interfaces) override;
  void onInterfacesRemoved(const sdbus::ObjectPath& path, const std::vector<std::string>& interfaces) override;

  Callback callback_;
};
