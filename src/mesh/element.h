#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "element1_adaptor.h"
#include "nvram/mesh_settings.h"


// The gateway's one element, holding the configuration models and the vendor model. The
// mesh daemon hands it every access message addressed to the gateway.
class MeshElement
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Element1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  using OnMessage = std::function<void(std::uint16_t source, const std::vector<std::uint8_t>& data)>;
  using OnConfigurationReply = std::function<void(const std::vector<std::uint8_t>& data)>;

  // Access messages go to `on_message`; device-key messages from the gateway's own node (its
  // configuration server's replies) to `on_configuration_reply`, others are ignored.
  MeshElement(sdbus::IConnection& connection, const MeshSettings& settings, OnMessage on_message,
              OnConfigurationReply on_configuration_reply);
  virtual ~MeshElement();
  MeshElement(const MeshElement&) = delete;
  MeshElement& operator=(const MeshElement&) = delete;

 private:
  using ModelOptions = std::map<std::string, sdbus::Variant>;

  void MessageReceived(const std::uint16_t& source, const std::uint16_t& key_index,
                       const sdbus::Variant& destination, const std::vector<std::uint8_t>& data) override;
  void DevKeyMessageReceived(const std::uint16_t& source, const bool& remote, const std::uint16_t& net_index,
                             const std::vector<std::uint8_t>& data) override;
  void UpdateModelConfiguration(const std::uint16_t& model_id, const ModelOptions& config) override;
  std::uint8_t Index() override { return 0; }
  std::vector<sdbus::Struct<std::uint16_t, ModelOptions>> Models() override;
  std::vector<sdbus::Struct<std::uint16_t, std::uint16_t, ModelOptions>> VendorModels() override;
  std::uint16_t Location() override { return 0; }

  const MeshSettings& settings_;
  const OnMessage on_message_;
  const OnConfigurationReply on_configuration_reply_;
};
