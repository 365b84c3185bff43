#include "ble/le_advertisement1.h"

#include <map>
#include <stdexcept>

#include "log/log.h"

namespace org::bluez {

LEAdvertisement1::LEAdvertisement1(sdbus::IConnection& connection, std::string path, ReleaseCallback on_release)
    : AdaptorInterfaces(connection, path), path_(std::move(path)), on_release_(std::move(on_release)) {}

LEAdvertisement1::~LEAdvertisement1() { Unregister(); }

template <typename Getter>
void LEAdvertisement1::AddProperty(const std::string& name, Getter getter) {
  if (published_ || !properties_.insert(name).second) return;
  getObject().registerProperty(name).onInterface(LEAdvertisement1_adaptor::INTERFACE_NAME).withGetter([this, getter] {
    const std::lock_guard<std::mutex> guard(lock_);
    return getter();
  });
}

LEAdvertisement1& LEAdvertisement1::Type(const std::string& type) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    type_ = type;
  }
  AddProperty("Type", [this] { return type_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::ServiceUUIDs(const std::vector<std::string>& uuids) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    service_uuids_ = uuids;
  }
  AddProperty("ServiceUUIDs", [this] { return service_uuids_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::LocalName(const std::string& name) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    local_name_ = name;
  }
  AddProperty("LocalName", [this] { return local_name_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::Discoverable(bool discoverable) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    discoverable_ = discoverable;
  }
  AddProperty("Discoverable", [this] { return discoverable_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::DiscoverableTimeout(std::uint16_t seconds) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    discoverable_timeout_ = seconds;
  }
  AddProperty("DiscoverableTimeout", [this] { return discoverable_timeout_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::MinInterval(std::uint32_t milliseconds) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    min_interval_ = milliseconds;
  }
  AddProperty("MinInterval", [this] { return min_interval_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::MaxInterval(std::uint32_t milliseconds) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    max_interval_ = milliseconds;
  }
  AddProperty("MaxInterval", [this] { return max_interval_; });
  return *this;
}

LEAdvertisement1& LEAdvertisement1::TxPower(std::int16_t dbm) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    tx_power_ = dbm;
  }
  AddProperty("TxPower", [this] { return tx_power_; });
  return *this;
}

void LEAdvertisement1::Register(const std::shared_ptr<LEAdvertisingManager1>& manager, ReplyCallback done) {
  bool untyped = false;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    untyped = type_.empty();
  }
  if (untyped) Type("peripheral");
  if (!manager) throw std::invalid_argument("'manager' must exist");
  manager_ = manager;
  if (!published_) {
    registerAdaptor();
    published_ = true;
  }
  if (done) {
    manager_->RegisterAdvertisementAsync(path_, std::move(done));
  } else {
    manager_->RegisterAdvertisement(sdbus::ObjectPath(path_), {});
  }
  registered_ = true;
}

void LEAdvertisement1::Unregister() {
  if (registered_) {
    registered_ = false;
    try {
      manager_->UnregisterAdvertisement(sdbus::ObjectPath(path_));
    } catch (const sdbus::Error& error) {
      LOG_ERROR << "Error unregistering advertisement " << error.getName() << " with message " << error.getMessage();
    }
  }
  if (published_) {
    published_ = false;
    unregisterAdaptor();
  }
}

void LEAdvertisement1::Release() {
  if (on_release_) on_release_();
}

}  // namespace org::bluez
