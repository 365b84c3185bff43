#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "gatt_characteristic1_adaptor.h"

namespace org::bluez {

// A GATT characteristic exported for bluetoothd at <service path>/<name>. The value and the
// flags are kept here; bluetoothd reads the properties through the application's object
// manager and turns a "Value" change into a notification.
class GattCharacteristic1
    : public sdbus::AdaptorInterfaces<GattCharacteristic1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  // `acquire_write` and `acquire_notify` add those methods with their properties; `value`
  // adds the "Value" property.
  GattCharacteristic1(sdbus::IConnection& connection, const std::string& service_path, std::string name,
                      std::string uuid, bool acquire_write, bool acquire_notify, bool value);
  virtual ~GattCharacteristic1();
  GattCharacteristic1(const GattCharacteristic1&) = delete;
  GattCharacteristic1& operator=(const GattCharacteristic1&) = delete;

  std::vector<std::uint8_t> ReadValue(const std::map<std::string, sdbus::Variant>& options) override;
  void WriteValue(const std::vector<std::uint8_t>& value, const std::map<std::string, sdbus::Variant>& options) override;
  virtual std::tuple<sdbus::UnixFd, std::uint16_t> AcquireWrite(const std::map<std::string, sdbus::Variant>& options);
  virtual std::tuple<sdbus::UnixFd, std::uint16_t> AcquireNotify(const std::map<std::string, sdbus::Variant>& options);
  void StartNotify() override;
  void StopNotify() override;
  void Confirm() override;

  std::string UUID() override;
  sdbus::ObjectPath Service() override;
  std::vector<std::uint8_t> Value();
  bool WriteAcquired();
  bool NotifyAcquired();
  bool Notifying() override;
  std::vector<std::string> Flags() override;
  std::uint16_t Handle() const;
  void Handle(std::uint16_t handle);
  std::uint16_t MTU() override;

  // Adds one of the characteristic flags of BlueZ; throws std::invalid_argument
  // "'flag' is not valid." for any other text.
  void AddFlag(const std::string& flag);

  const std::string& Path() const { return path_; }
  const std::string& Name() const { return name_; }

 protected:
  // Replaces the value and tells bluetoothd ("PropertiesChanged" of "Value").
  void StoreAndAnnounce(const std::vector<std::uint8_t>& value);

 private:
  const std::string service_path_;
  const std::string name_;
  const std::string path_;
  const std::string uuid_;
  mutable std::mutex lock_;  // guards value_ and flags_: the bus thread and the component's threads
  std::vector<std::uint8_t> value_;
  std::vector<std::string> flags_;
  std::atomic<std::uint16_t> mtu_{0};
  std::atomic<std::uint16_t> handle_{0};
  std::atomic<std::int32_t> notify_count_{0};
  bool write_acquired_ = false;
  bool notify_acquired_ = false;
};

}  // namespace org::bluez
