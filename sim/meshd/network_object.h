#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include "network1_adaptor.h"
#include "meshd/daemon_calls.h"

namespace sim::meshd {

// "/org/bluez/mesh": org.bluez.mesh.Network1 (Import and Attach; both answered later).
class NetworkObject : public sdbus::AdaptorInterfaces<org::bluez::mesh::Network1_adaptor> {
 public:
  static constexpr const char* kPath = "/org/bluez/mesh";

  NetworkObject(sdbus::IConnection& connection, DaemonCalls& daemon);
  virtual ~NetworkObject();
  NetworkObject(const NetworkObject&) = delete;
  NetworkObject& operator=(const NetworkObject&) = delete;

 private:
  void Import(sdbus::Result<>&& result, sdbus::ObjectPath app_root, std::vector<uint8_t> uuid,
              std::vector<uint8_t> dev_key, std::vector<uint8_t> net_key, uint16_t net_index,
              std::map<std::string, sdbus::Variant> flags, uint32_t iv_index, uint16_t unicast) override;
  void Attach(sdbus::Result<sdbus::ObjectPath, AttachConfiguration>&& result, sdbus::ObjectPath app_root,
              uint64_t token) override;
  std::string Sender() const;

  DaemonCalls& daemon_;
};

}  // namespace sim::meshd
