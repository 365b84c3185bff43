#include "ble/gatt_application.h"

#include <algorithm>
#include <stdexcept>

namespace org::bluez {

GattApplication::GattApplication(sdbus::IConnection& connection, std::string root_path)
    : AdaptorInterfaces(connection, root_path), root_path_(std::move(root_path)) {
  registerAdaptor();
}

GattApplication::~GattApplication() { unregisterAdaptor(); }

void GattApplication::AddService(const std::shared_ptr<GattService1>& service) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (std::find(services_.begin(), services_.end(), service) != services_.end()) {
    throw std::invalid_argument("GattApplication::AddService '" + service->Path() + "' already registered");
  }
  services_.push_back(service);
}

void GattApplication::RemoveService(const std::shared_ptr<GattService1>& service) {
  const std::lock_guard<std::mutex> guard(lock_);
  services_.erase(std::remove(services_.begin(), services_.end(), service), services_.end());
}

std::vector<std::shared_ptr<GattService1>> GattApplication::Services() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return services_;
}

}  // namespace org::bluez
