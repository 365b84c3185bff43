#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/gatt_characteristic1.h"
#include "gatt_service1_adaptor.h"

namespace org::bluez {

// A GATT service exported for bluetoothd, holding its characteristics.
class GattService1
    : public sdbus::AdaptorInterfaces<GattService1_adaptor, sdbus::ManagedObject_adaptor, sdbus::Properties_adaptor> {
 public:
  GattService1(sdbus::IConnection& connection, std::string path, std::string uuid, bool primary = true);
  virtual ~GattService1();
  GattService1(const GattService1&) = delete;
  GattService1& operator=(const GattService1&) = delete;

  std::string UUID() override { return uuid_; }
  bool Primary() override { return primary_; }

  // Throws std::invalid_argument when the same characteristic is already present.
  void AddCharacteristic(const std::shared_ptr<GattCharacteristic1>& characteristic);
  void RemoveCharacteristic(const std::shared_ptr<GattCharacteristic1>& characteristic);
  std::vector<std::shared_ptr<GattCharacteristic1>> Characteristics() const;

  const std::string& Path() const { return path_; }

 private:
  const std::string path_;
  const std::string uuid_;
  const bool primary_;
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<GattCharacteristic1>> characteristics_;
};

}  // namespace org::bluez
