#pragma once

#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "management1_proxy.h"
#include "network1_proxy.h"
#include "node1_proxy.h"

namespace sim::meshnodes {

inline constexpr const char* kMeshService = "org.bluez.mesh";

// A proxy of one of the mesh daemon's objects on a shared connection.
template <typename Generated>
class DaemonProxy : public sdbus::ProxyInterfaces<Generated> {
 public:
  DaemonProxy(sdbus::IConnection& connection, const std::string& path)
      : sdbus::ProxyInterfaces<Generated>(connection, kMeshService, path) {
    this->registerProxy();
  }
  virtual ~DaemonProxy() { this->unregisterProxy(); }
};

using NetworkProxy = DaemonProxy<org::bluez::mesh::Network1_proxy>;
class NodeProxy : public DaemonProxy<org::bluez::mesh::Node1_proxy> {
 public:
  using DaemonProxy::DaemonProxy;
};
using ManagementProxy = DaemonProxy<org::bluez::mesh::Management1_proxy>;

}  // namespace sim::meshnodes
