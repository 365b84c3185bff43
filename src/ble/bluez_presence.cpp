#include "ble/bluez_presence.h"

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluez_call.h"

namespace ble {

namespace {

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

}  // namespace

std::unique_ptr<sdbus::IConnection> ConnectToBus(const std::string& address) {
  if (address.empty()) return sdbus::createSystemBusConnection();
  return sdbus::createSessionBusConnectionWithAddress(address);
}

BluezPresence::BluezPresence(const std::string& bus_address, std::function<void(bool present)> changed)
    : connection_(ConnectToBus(bus_address)) {
  bus_daemon_ = sdbus::createProxy(*connection_, kBusService, kBusPath);
  bus_daemon_->uponSignal("NameOwnerChanged")
      .onInterface(kBusService)
      .call([changed = std::move(changed)](const std::string& name, const std::string& /*old_owner*/,
                                           const std::string& new_owner) {
        if (name == org::bluez::kBluezService) changed(!new_owner.empty());
      });
  bus_daemon_->finishRegistration();
  connection_->enterEventLoopAsync();
}

// The loop ends first, so no handler runs while the proxy goes.
BluezPresence::~BluezPresence() {
  connection_->leaveEventLoop();
  bus_daemon_.reset();
}

}  // namespace ble
