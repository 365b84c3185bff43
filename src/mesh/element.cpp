#include "mesh/element.h"

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/mesh_names.h"
#include "mesh/model_configuration_log.h"
#include "nvram/mesh_settings.h"

namespace {

constexpr std::uint16_t kConfigurationServer = 0x0000;
constexpr std::uint16_t kConfigurationClient = 0x0001;

std::map<std::string, sdbus::Variant> Options(bool subscribe, bool publish) {
  return {{"Subscribe", sdbus::Variant(subscribe)}, {"Publish", sdbus::Variant(publish)}};
}

}  // namespace

BluetoothMesh::Element::Element(sdbus::IConnection& connection, BluetoothMesh& mesh)
    : AdaptorInterfaces(connection, mesh_names::kElementPath), mesh_(&mesh) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Element1_adaptor::INTERFACE_NAME});
}

BluetoothMesh::Element::~Element() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Element1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void BluetoothMesh::Element::MessageReceived(const std::uint16_t& source, const std::uint16_t& /*key_index*/,
                                             const sdbus::Variant& /*destination*/,
                                             const std::vector<std::uint8_t>& data) {
  mesh_->receive_queue_.Push(Message{Message::kReceived, source, data});
}

void BluetoothMesh::Element::DevKeyMessageReceived(const std::uint16_t& source, const bool& remote,
                                                   const std::uint16_t& net_index,
                                                   const std::vector<std::uint8_t>& data) {
  if (source != mesh_->Store().NetAddr()) return;
  LOG_DEBUG << fmt::format("src : {} , remote : {}, net_idx : {}, size : {}", source, remote ? 1 : 0, net_index,
                           data.size());
  mesh_->OnConfigurationReply(data);
}

void BluetoothMesh::Element::UpdateModelConfiguration(const std::uint16_t& model_id, const ModelOptions& config) {
  LOG_DEBUG << "model id : " << model_id;
  LogModelConfiguration(config);
}

std::vector<sdbus::Struct<std::uint16_t, BluetoothMesh::Element::ModelOptions>> BluetoothMesh::Element::Models() {
  return {{kConfigurationServer, Options(false, false)}, {kConfigurationClient, Options(false, false)}};
}

std::vector<sdbus::Struct<std::uint16_t, std::uint16_t, BluetoothMesh::Element::ModelOptions>>
BluetoothMesh::Element::VendorModels() {
  return {{mesh_names::kCompanyId, mesh_names::kVendorModelId, Options(true, false)}};
}
