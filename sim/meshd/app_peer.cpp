#include "meshd/app_peer.h"

#include "application1_proxy.h"
#include "element1_proxy.h"

namespace sim::meshd {

namespace {

constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";

class ApplicationProxy : public sdbus::ProxyInterfaces<org::bluez::mesh::Application1_proxy> {
 public:
  ApplicationProxy(sdbus::IConnection& connection, std::string owner, std::string path)
      : ProxyInterfaces(connection, std::move(owner), std::move(path)) {
    registerProxy();
  }
  virtual ~ApplicationProxy() { unregisterProxy(); }

  void JoinComplete(std::uint64_t token, std::chrono::milliseconds timeout) {
    getProxy().callMethod("JoinComplete").onInterface(INTERFACE_NAME).withTimeout(timeout).withArguments(token);
  }
  void JoinFailed(const std::string& reason) {
    getProxy().callMethod("JoinFailed").onInterface(INTERFACE_NAME).withArguments(reason).dontExpectReply();
  }
};

class ElementProxy : public sdbus::ProxyInterfaces<org::bluez::mesh::Element1_proxy> {
 public:
  ElementProxy(sdbus::IConnection& connection, std::string owner, std::string path)
      : ProxyInterfaces(connection, std::move(owner), std::move(path)) {
    registerProxy();
  }
  virtual ~ElementProxy() { unregisterProxy(); }

  template <typename... Arguments>
  void Deliver(const char* member, const Arguments&... arguments) {
    getProxy().callMethod(member).onInterface(INTERFACE_NAME).withArguments(arguments...).dontExpectReply();
  }
};

}  // namespace

AppPeer::AppPeer(sdbus::IConnection& connection, std::string owner, std::chrono::milliseconds timeout)
    : connection_(connection), owner_(std::move(owner)), timeout_(timeout) {}

ManagedObjects AppPeer::GetManagedObjects(const std::string& app_root) const {
  auto proxy = sdbus::createProxy(connection_, owner_, app_root);
  ManagedObjects objects;
  proxy->callMethod("GetManagedObjects").onInterface(kObjectManagerInterface).withTimeout(timeout_).storeResultsTo(objects);
  return objects;
}

void AppPeer::JoinComplete(const std::string& app_path, std::uint64_t token) const {
  ApplicationProxy(connection_, owner_, app_path).JoinComplete(token, timeout_);
}

void AppPeer::JoinFailed(const std::string& app_path, const std::string& reason) const {
  ApplicationProxy(connection_, owner_, app_path).JoinFailed(reason);
}

void AppPeer::MessageReceived(const std::string& element_path, std::uint16_t source, std::uint16_t key_index,
                              const sdbus::Variant& destination, const std::vector<std::uint8_t>& data) const {
  ElementProxy(connection_, owner_, element_path).Deliver("MessageReceived", source, key_index, destination, data);
}

void AppPeer::DevKeyMessageReceived(const std::string& element_path, std::uint16_t source, bool remote,
                                    std::uint16_t net_index, const std::vector<std::uint8_t>& data) const {
  ElementProxy(connection_, owner_, element_path).Deliver("DevKeyMessageReceived", source, remote, net_index, data);
}

void AppPeer::UpdateModelConfiguration(const std::string& element_path, std::uint16_t model_id,
                                       const Options& config) const {
  ElementProxy(connection_, owner_, element_path).Deliver("UpdateModelConfiguration", model_id, config);
}

}  // namespace sim::meshd
