#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluetooth_le.h"

// Watches one device's "Connected" property for changes.
class BluetoothLE::DisconnectEvent : public sdbus::ProxyInterfaces<sdbus::Properties_proxy> {
 public:
  using Callback = std::function<void(bool connected)>;

  DisconnectEvent(sdbus::IConnection& connection, const std::string& device_path, Callback callback);
  virtual ~DisconnectEvent();
  DisconnectEvent(const DisconnectEvent&) = delete;
  DisconnectEvent& operator=(const DisconnectEvent&) = delete;

 private:
  void onPropertiesChanged(const std::string& interface, const std::map<std::string, sdbus::Variant>& changed,
                           const std::vector<std::string>& invalidated) override;

  Callback callback_;
};
