#pragma once

#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "adapter1_proxy.h"
#include "ble/bluez_call.h"

namespace org::bluez {

// bluetoothd's adapter object (Powered, Discoverable, Pairable).
class Adapter1 : public sdbus::ProxyInterfaces<Adapter1_proxy> {
 public:
  Adapter1(sdbus::IConnection& connection, std::string path) : ProxyInterfaces(connection, kBluezService, std::move(path)) {
    registerProxy();
  }
  virtual ~Adapter1() { unregisterProxy(); }
  Adapter1(const Adapter1&) = delete;
  Adapter1& operator=(const Adapter1&) = delete;
};

}  // namespace org::bluez
