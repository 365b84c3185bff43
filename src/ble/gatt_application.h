#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "ble/gatt_service1.h"

namespace org::bluez {

// The root of the exported GATT tree: the object manager through which bluetoothd
// enumerates the services and characteristics below it.
class GattApplication : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  GattApplication(sdbus::IConnection& connection, std::string root_path);
  virtual ~GattApplication();
  GattApplication(const GattApplication&) = delete;
  GattApplication& operator=(const GattApplication&) = delete;

  // Throws std::invalid_argument when the same service is already present.
  void AddService(const std::shared_ptr<GattService1>& service);
  void RemoveService(const std::shared_ptr<GattService1>& service);
  std::vector<std::shared_ptr<GattService1>> Services() const;

  const std::string& Path() const { return root_path_; }

 private:
  const std::string root_path_;
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<GattService1>> services_;
};

}  // namespace org::bluez
