#include "bluetoothd/adapter_object.h"

#include <iostream>

namespace sim::bluetoothd {

namespace {

constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kAdvertisement = "org.bluez.LEAdvertisement1";

nlohmann::json VariantText(const sdbus::Variant& value) {
  const std::string signature = value.peekValueType();
  if (signature == "s" || signature == "o") return value.get<std::string>();
  if (signature == "b") return value.get<bool>();
  if (signature == "q") return value.get<std::uint16_t>();
  if (signature == "u") return value.get<std::uint32_t>();
  if (signature == "n") return value.get<std::int16_t>();
  if (signature == "as") return value.get<std::vector<std::string>>();
  return signature;
}

}  // namespace

AdapterObject::AdapterObject(sdbus::IConnection& connection)
    : AdaptorInterfaces(connection, kPath), connection_(connection) {
  registerAdaptor();
}

AdapterObject::~AdapterObject() { unregisterAdaptor(); }

bool AdapterObject::Powered() {
  const std::lock_guard<std::mutex> guard(lock_);
  return powered_;
}
void AdapterObject::Powered(const bool& value) {
  const std::lock_guard<std::mutex> guard(lock_);
  powered_ = value;
}
bool AdapterObject::Discoverable() {
  const std::lock_guard<std::mutex> guard(lock_);
  return discoverable_;
}
void AdapterObject::Discoverable(const bool& value) {
  const std::lock_guard<std::mutex> guard(lock_);
  discoverable_ = value;
}
bool AdapterObject::Pairable() {
  const std::lock_guard<std::mutex> guard(lock_);
  return pairable_;
}
void AdapterObject::Pairable(const bool& value) {
  const std::lock_guard<std::mutex> guard(lock_);
  pairable_ = value;
}

std::string AdapterObject::Sender() const { return getObject().getCurrentlyProcessedMessage()->getSender(); }

void AdapterObject::Refused(const std::string& what, const std::string& reason) {
  std::cout << "bluetoothd: " << what << " refused: " << reason << std::endl;
  const std::lock_guard<std::mutex> guard(lock_);
  refusals_.push_back({{"what", what}, {"reason", reason}});
}

// Like bluetoothd: read the tree through the owner's object manager, then answer.
void AdapterObject::RegisterApplication(sdbus::Result<>&& result, sdbus::ObjectPath application,
                                        std::map<std::string, sdbus::Variant> /*options*/) {
  const std::string owner = Sender();
  auto reply = std::make_shared<sdbus::Result<>>(std::move(result));
  std::uint64_t id = 0;
  sdbus::IProxy* proxy = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (application_ && application_->owner == owner && application_->path == application) {
      reply->returnError(sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists"));
      return;
    }
    ReleaseFinished();
    id = ++next_pending_;
    pending_[id] = sdbus::createProxy(connection_, owner, application);
    proxy = pending_[id].get();
  }
  proxy->callMethodAsync("GetManagedObjects")
      .onInterface(kObjectManager)
      .uponReplyInvoke([this, reply, owner, application, id](const sdbus::Error* error, ManagedObjects objects) {
        GattCheck check;
        if (error != nullptr) {
          check.error = "No object received";
        } else {
          check = CheckApplication(objects);
        }
        if (check.tree) {
          {
            const std::lock_guard<std::mutex> guard(lock_);
            application_ = Application{owner, application, *check.tree};
          }
          changed_.notify_all();
          std::cout << "bluetoothd: application " << application << " registered" << std::endl;
          reply->returnResults();
        } else {
          Refused("application " + application, check.error);
          reply->returnError(sdbus::Error("org.bluez.Error.Failed", check.error));
        }
        const std::lock_guard<std::mutex> guard(lock_);
        finished_.push_back(id);  // the proxy runs this callback: it is released later
      });
}

void AdapterObject::UnregisterApplication(const sdbus::ObjectPath& application) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!application_ || application_->path != application || application_->owner != Sender()) {
    throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
  }
  application_.reset();
  std::cout << "bluetoothd: application " << application << " unregistered" << std::endl;
}

void AdapterObject::RegisterAdvertisement(sdbus::Result<>&& result, sdbus::ObjectPath advertisement,
                                          std::map<std::string, sdbus::Variant> /*options*/) {
  const std::string owner = Sender();
  auto reply = std::make_shared<sdbus::Result<>>(std::move(result));
  std::uint64_t id = 0;
  sdbus::IProxy* proxy = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (advertisement_ && advertisement_->owner == owner && advertisement_->path == advertisement) {
      reply->returnError(sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists"));
      return;
    }
    ReleaseFinished();
    id = ++next_pending_;
    pending_[id] = sdbus::createProxy(connection_, owner, advertisement);
    proxy = pending_[id].get();
  }
  proxy->callMethodAsync("GetAll")
      .onInterface(kProperties)
      .withArguments(std::string(kAdvertisement))
      .uponReplyInvoke([this, reply, owner, advertisement, id](const sdbus::Error* error, Properties properties) {
        const auto refusal = error != nullptr ? std::optional<std::string>("Failed to parse advertisement.")
                                              : CheckAdvertisement(properties);
        if (refusal) {
          Refused("advertisement " + advertisement, *refusal);
          reply->returnError(sdbus::Error("org.bluez.Error.Failed", *refusal));
        } else {
          {
            const std::lock_guard<std::mutex> guard(lock_);
            advertisement_ = Advertisement{owner, advertisement, properties};
          }
          changed_.notify_all();
          std::cout << "bluetoothd: advertisement " << advertisement << " registered" << std::endl;
          reply->returnResults();
        }
        const std::lock_guard<std::mutex> guard(lock_);
        finished_.push_back(id);  // the proxy runs this callback: it is released later
      });
}

void AdapterObject::UnregisterAdvertisement(const sdbus::ObjectPath& advertisement) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!advertisement_ || advertisement_->path != advertisement || advertisement_->owner != Sender()) {
    throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
  }
  advertisement_.reset();
  std::cout << "bluetoothd: advertisement " << advertisement << " unregistered" << std::endl;
}

void AdapterObject::ReleaseFinished() {
  for (const auto id : finished_) pending_.erase(id);
  finished_.clear();
}

std::uint8_t AdapterObject::ActiveInstances() {
  const std::lock_guard<std::mutex> guard(lock_);
  return advertisement_ ? 1 : 0;
}

std::optional<Application> AdapterObject::RegisteredApplication() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return application_;
}

std::optional<Advertisement> AdapterObject::RegisteredAdvertisement() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return advertisement_;
}

bool AdapterObject::WaitForRegistrations(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, timeout, [this] { return application_ && advertisement_; });
}

nlohmann::json AdapterObject::Status() const {
  const std::lock_guard<std::mutex> guard(lock_);
  nlohmann::json status{{"powered", powered_}, {"discoverable", discoverable_}, {"pairable", pairable_},
                        {"refusals", refusals_}, {"application", nullptr}, {"advertisement", nullptr}};
  if (application_) {
    nlohmann::json characteristics = nlohmann::json::object();
    for (const auto& [uuid, path] : application_->tree.characteristics) {
      characteristics[uuid] = {{"path", path}, {"flags", application_->tree.flags.at(path)}};
    }
    status["application"] = {{"path", application_->path},
                             {"service", application_->tree.service_path},
                             {"service_uuid", application_->tree.service_uuid},
                             {"characteristics", characteristics}};
  }
  if (advertisement_) {
    nlohmann::json properties = nlohmann::json::object();
    for (const auto& [name, value] : advertisement_->properties) properties[name] = VariantText(value);
    status["advertisement"] = {{"path", advertisement_->path}, {"properties", properties}};
  }
  return status;
}

void AdapterObject::Reset() {
  const std::lock_guard<std::mutex> guard(lock_);
  application_.reset();
  advertisement_.reset();
}

}  // namespace sim::bluetoothd
