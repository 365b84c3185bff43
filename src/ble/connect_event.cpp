#include "ble/connect_event.h"

#include "ble/bluez_call.h"
#include "log/log.h"

BluetoothLE::ConnectEvent::ConnectEvent(sdbus::IConnection& connection, Callback callback)
    : ProxyInterfaces(connection, org::bluez::kBluezService, "/"), callback_(std::move(callback)) {
  registerProxy();
}

BluetoothLE::ConnectEvent::~ConnectEvent() { unregisterProxy(); }

void BluetoothLE::ConnectEvent::onInterfacesAdded(
    const sdbus::ObjectPath& path, const std::map<std::string, std::map<std::string, sdbus::Variant>>& interfaces) {
  const auto device = interfaces.find("org.bluez.Device1");
  if (device == interfaces.end()) return;
  const auto connected = device->second.find("Connected");
  if (connected == device->second.end()) return;
  try {
    callback_(path, connected->second.get<bool>());
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Device " << path << ": " << error.getMessage();  // "Connected" not a boolean
  }
}

void BluetoothLE::ConnectEvent::onInterfacesRemoved(const sdbus::ObjectPath& /*path*/,
                                                    const std::vector<std::string>& /*interfaces*/) {}
