#include "mesh/element.h"

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/mesh_names.h"
#include "mesh/model_configuration_log.h"

namespace {

constexpr std::uint16_t kConfigurationServer = 0x0000;
constexpr std::uint16_t kConfigurationClient = 0x0001;

std::map<std::string, sdbus::Variant> Options(bool subscribe, bool publish) {
  return {{"Subscribe", sdbus::Variant(subscribe)}, {"Publish", sdbus::Variant(publish)}};
}

}  // namespace

MeshElement::MeshElement(sdbus::IConnection& connection, const MeshSettings& settings, OnMessage on_message,
                         OnConfigurationReply on_configuration_reply)
    : AdaptorInterfaces(connection, mesh_names::kElementPath),
      settings_(settings),
      on_message_(std::move(on_message)),
      on_configuration_reply_(std::move(on_configuration_reply)) {
  registerAdaptor();
  emitInterfacesAddedSignal({org::bluez::mesh::Element1_adaptor::INTERFACE_NAME});
}

MeshElement::~MeshElement() {
  emitInterfacesRemovedSignal({org::bluez::mesh::Element1_adaptor::INTERFACE_NAME});
  unregisterAdaptor();
}

void MeshElement::MessageReceived(const std::uint16_t& source, const std::uint16_t& /*key_index*/,
                                             const sdbus::Variant& /*destination*/,
                                             const std::vector<std::uint8_t>& data) {
  if (on_message_) on_message_(source, data);
}

void MeshElement::DevKeyMessageReceived(const std::uint16_t& source, const bool& remote,
                                                   const std::uint16_t& net_index,
                                                   const std::vector<std::uint8_t>& data) {
  if (source != settings_.NetAddr()) return;
  LOG_DEBUG << fmt::format("src : {} , remote : {}, net_idx : {}, size : {}", source, remote ? 1 : 0, net_index,
                           data.size());
  if (on_configuration_reply_) on_configuration_reply_(data);
}

void MeshElement::UpdateModelConfiguration(const std::uint16_t& model_id, const ModelOptions& config) {
  LOG_DEBUG << "model id : " << model_id;
  LogModelConfiguration(config);
}

std::vector<sdbus::Struct<std::uint16_t, MeshElement::ModelOptions>> MeshElement::Models() {
  return {{kConfigurationServer, Options(false, false)}, {kConfigurationClient, Options(false, false)}};
}

std::vector<sdbus::Struct<std::uint16_t, std::uint16_t, MeshElement::ModelOptions>>
MeshElement::VendorModels() {
  return {{mesh_names::kCompanyId, mesh_names::kVendorModelId, Options(true, false)}};
}
