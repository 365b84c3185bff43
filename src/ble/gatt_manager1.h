#pragma once

#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluez_call.h"
#include "gatt_manager1_proxy.h"

namespace org::bluez {

// bluetoothd's GATT manager on the adapter.
class GattManager1 : public sdbus::ProxyInterfaces<GattManager1_proxy> {
 public:
  GattManager1(sdbus::IConnection& connection, std::string path);
  virtual ~GattManager1();
  GattManager1(const GattManager1&) = delete;
  GattManager1& operator=(const GattManager1&) = delete;

  // "RegisterApplication"(application, {}) without waiting; `done` gets the outcome on the
  // connection's event-loop thread.
  void RegisterApplicationAsync(const std::string& application, ReplyCallback done);
};

}  // namespace org::bluez
