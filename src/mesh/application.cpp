#include "mesh/application.h"

#include "log/log.h"
#include "mesh/mesh_names.h"

MeshApplication::MeshApplication(sdbus::IConnection& connection, OnComplete on_complete, OnFailed on_failed,
                                 std::uint16_t company_id, std::uint16_t product_id, std::uint16_t version_id,
                                 std::uint16_t crpl)
    : AdaptorInterfaces(connection, mesh_names::kApplicationPath),
      on_complete_(std::move(on_complete)),
      on_failed_(std::move(on_failed)),
      company_id_(company_id),
      product_id_(product_id),
      version_id_(version_id),
      crpl_(crpl) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Application1_adaptor::INTERFACE_NAME});
}

MeshApplication::~MeshApplication() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Application1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void MeshApplication::JoinComplete(const std::uint64_t& token) {
  LOG_DEBUG << "JoinComplete " << token;
  if (on_complete_) on_complete_(token);
}

void MeshApplication::JoinFailed(const std::string& reason) {
  LOG_DEBUG << "JoinFailed " << reason;
  if (on_failed_) on_failed_(reason);
}
