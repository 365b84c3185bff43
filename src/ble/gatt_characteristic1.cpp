#include "ble/gatt_characteristic1.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>

namespace org::bluez {

namespace {

constexpr std::array<std::string_view, 23> kFlags{
    "broadcast",
    "read",
    "write-without-response",
    "write",
    "notify",
    "indicate",
    "authenticated-signed-writes",
    "extended-properties",
    "reliable-write",
    "writable-auxiliaries",
    "encrypt-read",
    "encrypt-write",
    "encrypt-notify",
    "encrypt-indicate",
    "encrypt-authenticated-read",
    "encrypt-authenticated-write",
    "encrypt-authenticated-notify",
    "encrypt-authenticated-indicate",
    "secure-read",
    "secure-write",
    "secure-notify",
    "secure-indicate",
    "authorize",
};

}  // namespace

GattCharacteristic1::GattCharacteristic1(sdbus::IConnection& connection, const std::string& service_path,
                                         std::string name, std::string uuid, bool acquire_write,
                                         bool acquire_notify, bool value)
    : AdaptorInterfaces(connection, service_path + "/" + name),
      service_path_(service_path),
      name_(std::move(name)),
      path_(service_path_ + "/" + name_),
      uuid_(std::move(uuid)) {
  auto& object = getObject();
  if (acquire_write) {
    object.registerMethod("AcquireWrite")
        .onInterface(GattCharacteristic1_adaptor::INTERFACE_NAME)
        .withInputParamNames("options")
        .withOutputParamNames("fd", "mtu")
        .implementedAs([this](const std::map<std::string, sdbus::Variant>& options) { return AcquireWrite(options); });
    object.registerProperty("WriteAcquired").onInterface(GattCharacteristic1_adaptor::INTERFACE_NAME).withGetter([this] { return WriteAcquired(); });
  }
  if (acquire_notify) {
    object.registerMethod("AcquireNotify")
        .onInterface(GattCharacteristic1_adaptor::INTERFACE_NAME)
        .withInputParamNames("options")
        .withOutputParamNames("fd", "mtu")
        .implementedAs([this](const std::map<std::string, sdbus::Variant>& options) { return AcquireNotify(options); });
    object.registerProperty("NotifyAcquired").onInterface(GattCharacteristic1_adaptor::INTERFACE_NAME).withGetter([this] { return NotifyAcquired(); });
  }
  if (value) object.registerProperty("Value").onInterface(GattCharacteristic1_adaptor::INTERFACE_NAME).withGetter([this] { return Value(); });
  registerAdaptor();
}

GattCharacteristic1::~GattCharacteristic1() { unregisterAdaptor(); }

std::vector<std::uint8_t> GattCharacteristic1::ReadValue(const std::map<std::string, sdbus::Variant>& /*options*/) {
  return Value();
}

void GattCharacteristic1::WriteValue(const std::vector<std::uint8_t>& value,
                                     const std::map<std::string, sdbus::Variant>& /*options*/) {
  const std::lock_guard<std::mutex> guard(lock_);
  value_ = value;
}

std::tuple<sdbus::UnixFd, std::uint16_t> GattCharacteristic1::AcquireWrite(
    const std::map<std::string, sdbus::Variant>& /*options*/) {
  throw sdbus::Error("org.bluez.Error.NotSupported", "Method 'GattCharacteristic1::AcquireWrite' not overloaded!");
}

std::tuple<sdbus::UnixFd, std::uint16_t> GattCharacteristic1::AcquireNotify(
    const std::map<std::string, sdbus::Variant>& /*options*/) {
  throw sdbus::Error("org.bluez.Error.NotSupported", "Method 'GattCharacteristic1::AcquireNotify' not overloaded!");
}

void GattCharacteristic1::StartNotify() { ++notify_count_; }
void GattCharacteristic1::StopNotify() { --notify_count_; }
void GattCharacteristic1::Confirm() {}

std::string GattCharacteristic1::UUID() { return uuid_; }
sdbus::ObjectPath GattCharacteristic1::Service() { return sdbus::ObjectPath(service_path_); }
std::vector<std::uint8_t> GattCharacteristic1::Value() {
  const std::lock_guard<std::mutex> guard(lock_);
  return value_;
}
bool GattCharacteristic1::WriteAcquired() { return write_acquired_; }
bool GattCharacteristic1::NotifyAcquired() { return notify_acquired_; }
bool GattCharacteristic1::Notifying() { return notify_count_ > 0; }
std::vector<std::string> GattCharacteristic1::Flags() {
  const std::lock_guard<std::mutex> guard(lock_);
  return flags_;
}
std::uint16_t GattCharacteristic1::Handle() const { return handle_; }
void GattCharacteristic1::Handle(std::uint16_t handle) { handle_ = handle; }
std::uint16_t GattCharacteristic1::MTU() { return mtu_; }

void GattCharacteristic1::AddFlag(const std::string& flag) {
  if (std::find(kFlags.begin(), kFlags.end(), flag) == kFlags.end()) {
    throw std::invalid_argument("'flag' is not valid.");
  }
  const std::lock_guard<std::mutex> guard(lock_);
  flags_.push_back(flag);
}

void GattCharacteristic1::StoreAndAnnounce(const std::vector<std::uint8_t>& value) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    value_ = value;
  }
  emitPropertiesChangedSignal(GattCharacteristic1_adaptor::INTERFACE_NAME, {"Value"});
}

}  // namespace org::bluez
