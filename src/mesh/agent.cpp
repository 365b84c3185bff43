#include "mesh/agent.h"

#include "mesh/mesh_names.h"

namespace {

[[noreturn]] void NotSupported(const std::string& method) {
  throw sdbus::Error("org.bluez.Error.NotSupported", "Default '" + method + "' called, returning error");
}

}  // namespace

BluetoothMesh::Agent::Agent(sdbus::IConnection& connection)
    : AdaptorInterfaces(connection, mesh_names::kAgentPath) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::ProvisionAgent1_adaptor::INTERFACE_NAME});
}

BluetoothMesh::Agent::~Agent() {
  emitInterfacesRemovedSignal({org::bluez::mesh::ProvisionAgent1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void BluetoothMesh::Agent::DisplayString(const std::string& /*value*/) { NotSupported("DisplayString"); }

void BluetoothMesh::Agent::DisplayNumeric(const std::string& /*type*/, const std::uint32_t& /*number*/) {
  NotSupported("DisplayNumeric");
}

std::uint32_t BluetoothMesh::Agent::PromptNumeric(const std::string& /*type*/) { NotSupported("PromptNumeric"); }

std::vector<std::uint8_t> BluetoothMesh::Agent::PromptStatic(const std::string& /*type*/) {
  NotSupported("PromptStatic");
}

void BluetoothMesh::Agent::Cancel() { NotSupported("Cancel"); }
