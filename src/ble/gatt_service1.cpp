#include "ble/gatt_service1.h"

#include <algorithm>
#include <stdexcept>

namespace org::bluez {

GattService1::GattService1(sdbus::IConnection& connection, std::string path, std::string uuid, bool primary)
    : AdaptorInterfaces(connection, path), path_(std::move(path)), uuid_(std::move(uuid)), primary_(primary) {
  registerAdaptor();
}

GattService1::~GattService1() { unregisterAdaptor(); }

void GattService1::AddCharacteristic(const std::shared_ptr<GattCharacteristic1>& characteristic) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (std::find(characteristics_.begin(), characteristics_.end(), characteristic) != characteristics_.end()) {
    throw std::invalid_argument("GattService1::AddCharacteristic '" + characteristic->Path() + "' already registered!");
  }
  characteristics_.push_back(characteristic);
}

void GattService1::RemoveCharacteristic(const std::shared_ptr<GattCharacteristic1>& characteristic) {
  const std::lock_guard<std::mutex> guard(lock_);
  characteristics_.erase(std::remove(characteristics_.begin(), characteristics_.end(), characteristic),
                         characteristics_.end());
}

std::vector<std::shared_ptr<GattCharacteristic1>> GattService1::Characteristics() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return characteristics_;
}

}  // namespace org::bluez
