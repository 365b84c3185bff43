#include "ble/gatt_manager1.h"

#include <map>

namespace org::bluez {

GattManager1::GattManager1(sdbus::IConnection& connection, std::string path)
    : ProxyInterfaces(connection, kBluezService, std::move(path)) {
  registerProxy();
}

GattManager1::~GattManager1() { unregisterProxy(); }

void GattManager1::RegisterApplicationAsync(const std::string& application, ReplyCallback done) {
  getProxy()
      .callMethodAsync("RegisterApplication")
      .onInterface(INTERFACE_NAME)
      .withArguments(sdbus::ObjectPath(application), std::map<std::string, sdbus::Variant>{})
      .uponReplyInvoke([done = std::move(done)](const sdbus::Error* error) {
        if (done) done(error == nullptr ? std::nullopt : std::optional<sdbus::Error>(*error));
      });
}

}  // namespace org::bluez
