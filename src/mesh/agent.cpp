#include "mesh/agent.h"

#include "mesh/mesh_names.h"

namespace {

[[noreturn]] void NotSupported(const std::string& method) {
  throw sdbus::Error("org.bluez.Error.NotSupported", "Default '" + method + "' called, returning error");
}

}  // namespace

MeshAgent::MeshAgent(sdbus::IConnection& connection)
    : AdaptorInterfaces(connection, mesh_names::kAgentPath) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::ProvisionAgent1_adaptor::INTERFACE_NAME});
}

MeshAgent::~MeshAgent() {
  emitInterfacesRemovedSignal({org::bluez::mesh::ProvisionAgent1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void MeshAgent::DisplayString(const std::string& /*value*/) { NotSupported("DisplayString"); }

void MeshAgent::DisplayNumeric(const std::string& /*type*/, const std::uint32_t& /*number*/) {
  NotSupported("DisplayNumeric");
}

std::uint32_t MeshAgent::PromptNumeric(const std::string& /*type*/) { NotSupported("PromptNumeric"); }

std::vector<std::uint8_t> MeshAgent::PromptStatic(const std::string& /*type*/) {
  NotSupported("PromptStatic");
}

void MeshAgent::Cancel() { NotSupported("Cancel"); }
