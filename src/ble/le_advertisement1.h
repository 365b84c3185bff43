#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/bluez_call.h"
#include "ble/le_advertising_manager1.h"
#include "le_advertisement1_adaptor.h"

namespace org::bluez {

// An LE advertisement exported for bluetoothd. Each setter stores its value and adds the
// property to the object; Register publishes the object and asks the advertising manager to
// advertise it, so every setter comes before Register.
class LEAdvertisement1 : public sdbus::AdaptorInterfaces<LEAdvertisement1_adaptor, sdbus::Properties_adaptor> {
 public:
  using ReleaseCallback = std::function<void()>;

  LEAdvertisement1(sdbus::IConnection& connection, std::string path, ReleaseCallback on_release = nullptr);
  virtual ~LEAdvertisement1();
  LEAdvertisement1(const LEAdvertisement1&) = delete;
  LEAdvertisement1& operator=(const LEAdvertisement1&) = delete;

  LEAdvertisement1& Type(const std::string& type);
  LEAdvertisement1& ServiceUUIDs(const std::vector<std::string>& uuids);
  LEAdvertisement1& LocalName(const std::string& name);
  LEAdvertisement1& Discoverable(bool discoverable);
  LEAdvertisement1& DiscoverableTimeout(std::uint16_t seconds);
  LEAdvertisement1& MinInterval(std::uint32_t milliseconds);
  LEAdvertisement1& MaxInterval(std::uint32_t milliseconds);
  LEAdvertisement1& TxPower(std::int16_t dbm);

  // Publishes the object and calls "RegisterAdvertisement": asynchronously with `done`,
  // synchronously without. Throws std::invalid_argument "'manager' must exist" for a null
  // manager.
  void Register(const std::shared_ptr<LEAdvertisingManager1>& manager, ReplyCallback done = nullptr);
  // "UnregisterAdvertisement" when registered, then the object leaves the bus.
  void Unregister();

  bool Registered() const { return registered_; }
  const std::string& Path() const { return path_; }

 private:
  void Release() override;
  // Adds property `name` on first use, read through `getter`.
  template <typename Getter>
  void AddProperty(const std::string& name, Getter getter);

  const std::string path_;
  ReleaseCallback on_release_;
  std::shared_ptr<LEAdvertisingManager1> manager_;
  mutable std::mutex lock_;  // the values: set by the owner, read on the bus thread
  std::string type_;
  std::vector<std::string> service_uuids_;
  std::string local_name_;
  bool discoverable_ = false;
  std::uint16_t discoverable_timeout_ = 0;
  std::uint32_t min_interval_ = 0;
  std::uint32_t max_interval_ = 0;
  std::int16_t tx_power_ = 0;
  std::set<std::string> properties_;
  bool published_ = false;
  bool registered_ = false;
};

}  // namespace org::bluez
