#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "adapter1_adaptor.h"
#include "bluetoothd/gatt_checks.h"
#include "gatt_manager1_adaptor.h"
#include "le_advertising_manager1_adaptor.h"

namespace sim::bluetoothd {

// A registered GATT application: who owns it and what bluetoothd found in it.
struct Application {
  std::string owner;  // the unique bus name of the registering connection
  std::string path;
  GattTree tree;
};

// A registered advertisement with the properties bluetoothd read.
struct Advertisement {
  std::string owner;
  std::string path;
  Properties properties;
};

// The adapter object "/org/bluez/hci0" with its GATT manager and LE advertising manager.
// Registrations are answered as bluetoothd answers them: after reading the application's
// objects (or the advertisement's properties) asynchronously from its owner.
class AdapterObject
    : public sdbus::AdaptorInterfaces<org::bluez::Adapter1_adaptor, org::bluez::GattManager1_adaptor,
                                      org::bluez::LEAdvertisingManager1_adaptor, sdbus::Properties_adaptor,
                                      sdbus::ManagedObject_adaptor> {
 public:
  static constexpr const char* kPath = "/org/bluez/hci0";

  explicit AdapterObject(sdbus::IConnection& connection);
  virtual ~AdapterObject();
  AdapterObject(const AdapterObject&) = delete;
  AdapterObject& operator=(const AdapterObject&) = delete;

  std::optional<Application> RegisteredApplication() const;
  std::optional<Advertisement> RegisteredAdvertisement() const;
  // Waits until an application and an advertisement are registered.
  bool WaitForRegistrations(std::chrono::milliseconds timeout) const;
  // The adapter's state, registrations and the refusals so far, for the control interface.
  nlohmann::json Status() const;
  // Forgets the registrations (bluetoothd restarted).
  void Reset();

 private:
  std::string Address() override { return "00:1A:7D:DA:71:13"; }
  bool Powered() override;
  void Powered(const bool& value) override;
  bool Discoverable() override;
  void Discoverable(const bool& value) override;
  bool Pairable() override;
  void Pairable(const bool& value) override;
  void RegisterApplication(sdbus::Result<>&& result, sdbus::ObjectPath application,
                           std::map<std::string, sdbus::Variant> options) override;
  void UnregisterApplication(const sdbus::ObjectPath& application) override;
  void RegisterAdvertisement(sdbus::Result<>&& result, sdbus::ObjectPath advertisement,
                             std::map<std::string, sdbus::Variant> options) override;
  void UnregisterAdvertisement(const sdbus::ObjectPath& advertisement) override;
  std::uint8_t ActiveInstances() override;
  std::uint8_t SupportedInstances() override { return 4; }

  std::string Sender() const;
  void Refused(const std::string& what, const std::string& reason);
  void ReleaseFinished();  // caller holds lock_

  sdbus::IConnection& connection_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool powered_ = false;
  bool discoverable_ = true;
  bool pairable_ = true;
  std::optional<Application> application_;
  std::optional<Advertisement> advertisement_;
  nlohmann::json refusals_ = nlohmann::json::array();
  // Proxies of calls in flight towards the registering peers.
  std::map<std::uint64_t, std::unique_ptr<sdbus::IProxy>> pending_;
  std::vector<std::uint64_t> finished_;  // calls answered: their proxies can go
  std::uint64_t next_pending_ = 0;
};

}  // namespace sim::bluetoothd
