#include "mesh/provisioner.h"

#include "log/log.h"
#include "mesh/mesh_names.h"

BluetoothMesh::Provisioner::Provisioner(sdbus::IConnection& connection)
    : AdaptorInterfaces(connection, mesh_names::kApplicationPath) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Provisioner1_adaptor::INTERFACE_NAME});
}

BluetoothMesh::Provisioner::~Provisioner() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Provisioner1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void BluetoothMesh::Provisioner::ScanResult(const std::uint16_t& rssi, const std::vector<std::uint8_t>& data,
                                            const std::map<std::string, sdbus::Variant>& /*options*/) {
  LOG_DEBUG << "ScanResult rssi " << rssi << ", " << data.size() << " bytes";
}

std::tuple<std::uint16_t, std::uint16_t> BluetoothMesh::Provisioner::RequestProvData(const std::uint8_t& count) {
  LOG_DEBUG << "RequestProvData " << static_cast<int>(count);
  return {0, 0};
}

void BluetoothMesh::Provisioner::AddNodeComplete(const std::vector<std::uint8_t>& /*uuid*/,
                                                 const std::uint16_t& unicast, const std::uint8_t& count) {
  LOG_DEBUG << "AddNodeComplete " << unicast << " " << static_cast<int>(count);
}

void BluetoothMesh::Provisioner::AddNodeFailed(const std::vector<std::uint8_t>& /*uuid*/, const std::string& reason) {
  LOG_DEBUG << "AddNodeFailed " << reason;
}
