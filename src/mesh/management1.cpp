#include "mesh/management1.h"

#include "mesh/mesh_names.h"

namespace org::bluez::mesh {

Management1::Management1(sdbus::IConnection& connection, const std::string& node_path)
    : ProxyInterfaces(connection, mesh_names::kDaemonService, node_path) {
  registerProxy();
}

Management1::~Management1() { unregisterProxy(); }

}  // namespace org::bluez::mesh
