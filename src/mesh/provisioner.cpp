#include "mesh/provisioner.h"

#include "log/log.h"
#include "mesh/mesh_names.h"

MeshProvisioner::MeshProvisioner(sdbus::IConnection& connection)
    : AdaptorInterfaces(connection, mesh_names::kApplicationPath) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Provisioner1_adaptor::INTERFACE_NAME});
}

MeshProvisioner::~MeshProvisioner() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Provisioner1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void MeshProvisioner::ScanResult(const std::uint16_t& rssi, const std::vector<std::uint8_t>& data,
                                            const std::map<std::string, sdbus::Variant>& /*options*/) {
  LOG_DEBUG << "ScanResult rssi " << rssi << ", " << data.size() << " bytes";
}

std::tuple<std::uint16_t, std::uint16_t> MeshProvisioner::RequestProvData(const std::uint8_t& count) {
  LOG_DEBUG << "RequestProvData " << static_cast<int>(count);
  return {0, 0};
}

void MeshProvisioner::AddNodeComplete(const std::vector<std::uint8_t>& /*uuid*/,
                                                 const std::uint16_t& unicast, const std::uint8_t& count) {
  LOG_DEBUG << "AddNodeComplete " << unicast << " " << static_cast<int>(count);
}

void MeshProvisioner::AddNodeFailed(const std::vector<std::uint8_t>& /*uuid*/, const std::string& reason) {
  LOG_DEBUG << "AddNodeFailed " << reason;
}
