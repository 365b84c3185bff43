#include "ble/disconnect_event.h"

#include "ble/bluez_call.h"
#include "log/log.h"

BluetoothLE::DisconnectEvent::DisconnectEvent(sdbus::IConnection& connection, const std::string& device_path,
                                              Callback callback)
    : ProxyInterfaces(connection, org::bluez::kBluezService, device_path), callback_(std::move(callback)) {
  registerProxy();
}

BluetoothLE::DisconnectEvent::~DisconnectEvent() { unregisterProxy(); }

void BluetoothLE::DisconnectEvent::onPropertiesChanged(const std::string& interface,
                                                       const std::map<std::string, sdbus::Variant>& changed,
                                                       const std::vector<std::string>& /*invalidated*/) {
  if (interface != "org.bluez.Device1") return;
  const auto connected = changed.find("Connected");
  if (connected == changed.end()) return;
  try {
    callback_(connected->second.get<bool>());
  } catch (const sdbus::Error& error) {
    LOG_ERROR << "Device: " << error.getMessage();  // "Connected" not a boolean
  }
}
