#include "mesh/application.h"

#include "log/log.h"
#include "mesh/mesh_names.h"

BluetoothMesh::Application::Application(sdbus::IConnection& connection, BluetoothMesh& mesh, std::uint16_t company_id,
                                        std::uint16_t product_id, std::uint16_t version_id, std::uint16_t crpl)
    : AdaptorInterfaces(connection, mesh_names::kApplicationPath),
      mesh_(&mesh),
      company_id_(company_id),
      product_id_(product_id),
      version_id_(version_id),
      crpl_(crpl) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Application1_adaptor::INTERFACE_NAME});
}

BluetoothMesh::Application::~Application() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Application1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void BluetoothMesh::Application::JoinComplete(const std::uint64_t& token) {
  LOG_DEBUG << "JoinComplete " << token;
  mesh_->OnJoinComplete(token);
}

void BluetoothMesh::Application::JoinFailed(const std::string& reason) {
  LOG_DEBUG << "JoinFailed " << reason;
  mesh_->OnJoinFailed(reason);
}
