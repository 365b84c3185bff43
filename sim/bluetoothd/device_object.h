#pragma once

#include <atomic>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "device1_adaptor.h"

namespace sim::bluetoothd {

// A phone as bluetoothd shows it: "/org/bluez/hci0/dev_XX_..." with "Connected". Created
// connected (its appearance is announced by InterfacesAdded); Disconnect announces the
// change through PropertiesChanged.
class DeviceObject
    : public sdbus::AdaptorInterfaces<org::bluez::Device1_adaptor, sdbus::Properties_adaptor,
                                      sdbus::ManagedObject_adaptor> {
 public:
  DeviceObject(sdbus::IConnection& connection, const std::string& address);
  virtual ~DeviceObject();
  DeviceObject(const DeviceObject&) = delete;
  DeviceObject& operator=(const DeviceObject&) = delete;

  void Disconnect();
  const std::string& Path() const { return path_; }

 private:
  std::string Address() override { return address_; }
  std::string AddressType() override { return "random"; }
  std::string Name() override { return "Simulated phone"; }
  sdbus::ObjectPath Adapter() override { return sdbus::ObjectPath("/org/bluez/hci0"); }
  bool Connected() override { return connected_; }
  bool Paired() override { return false; }

  const std::string address_;
  const std::string path_;
  std::atomic<bool> connected_{true};
};

}  // namespace sim::bluetoothd
