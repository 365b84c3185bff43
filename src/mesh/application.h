#pragma once

#include <cstdint>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "application1_adaptor.h"
#include "mesh/bluetooth_mesh.h"

// The gateway's application object: its identity, and the outcome of joining.
class BluetoothMesh::Application
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Application1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  Application(sdbus::IConnection& connection, BluetoothMesh& mesh, std::uint16_t company_id, std::uint16_t product_id,
              std::uint16_t version_id, std::uint16_t crpl);
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

 private:
  void JoinComplete(const std::uint64_t& token) override;
  void JoinFailed(const std::string& reason) override;
  std::uint16_t CompanyID() override { return company_id_; }
  std::uint16_t ProductID() override { return product_id_; }
  std::uint16_t VersionID() override { return version_id_; }
  std::uint16_t CRPL() override { return crpl_; }

  BluetoothMesh* mesh_;
  const std::uint16_t company_id_;
  const std::uint16_t product_id_;
  const std::uint16_t version_id_;
  const std::uint16_t crpl_;
};
