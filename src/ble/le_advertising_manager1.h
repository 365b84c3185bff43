#pragma once

#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluez_call.h"
#include "le_advertising_manager1_proxy.h"

namespace org::bluez {

// bluetoothd's LE advertising manager on the adapter.
class LEAdvertisingManager1 : public sdbus::ProxyInterfaces<LEAdvertisingManager1_proxy> {
 public:
  LEAdvertisingManager1(sdbus::IConnection& connection, std::string path);
  virtual ~LEAdvertisingManager1();
  LEAdvertisingManager1(const LEAdvertisingManager1&) = delete;
  LEAdvertisingManager1& operator=(const LEAdvertisingManager1&) = delete;

  // "RegisterAdvertisement"(advertisement, {}) without waiting; `done` gets the outcome on
  // the connection's event-loop thread.
  void RegisterAdvertisementAsync(const std::string& advertisement, ReplyCallback done);
};

}  // namespace org::bluez
