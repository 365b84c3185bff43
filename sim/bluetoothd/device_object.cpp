#include "bluetoothd/device_object.h"

#include <algorithm>

namespace sim::bluetoothd {

namespace {

std::string DevicePath(std::string address) {
  std::replace(address.begin(), address.end(), ':', '_');
  return "/org/bluez/hci0/dev_" + address;
}

}  // namespace

DeviceObject::DeviceObject(sdbus::IConnection& connection, const std::string& address)
    : AdaptorInterfaces(connection, DevicePath(address)), address_(address), path_(DevicePath(address)) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::Device1_adaptor::INTERFACE_NAME});
}

DeviceObject::~DeviceObject() {
  emitInterfacesRemovedSignal({org::bluez::Device1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void DeviceObject::Disconnect() {
  connected_ = false;
  emitPropertiesChangedSignal(org::bluez::Device1_adaptor::INTERFACE_NAME, {"Connected"});
}

}  // namespace sim::bluetoothd
