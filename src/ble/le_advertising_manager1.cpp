#include "ble/le_advertising_manager1.h"

#include <map>

namespace org::bluez {

LEAdvertisingManager1::LEAdvertisingManager1(sdbus::IConnection& connection, std::string path)
    : ProxyInterfaces(connection, kBluezService, std::move(path)) {
  registerProxy();
}

LEAdvertisingManager1::~LEAdvertisingManager1() { unregisterProxy(); }

void LEAdvertisingManager1::RegisterAdvertisementAsync(const std::string& advertisement, ReplyCallback done) {
  getProxy()
      .callMethodAsync("RegisterAdvertisement")
      .onInterface(INTERFACE_NAME)
      .withArguments(sdbus::ObjectPath(advertisement), std::map<std::string, sdbus::Variant>{})
      .uponReplyInvoke([done = std::move(done)](const sdbus::Error* error) {
        if (done) done(error == nullptr ? std::nullopt : std::optional<sdbus::Error>(*error));
      });
}

}  // namespace org::bluez
