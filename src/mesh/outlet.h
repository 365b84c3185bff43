#pragma once

#include "mesh/bluetooth_mesh.h"
#include "mesh/dispatch_outlet.h"

// The receive dispatch's outlet in the daemon: the component's cloud client, firmware manager,
// send queues and application.
class BluetoothMesh::Outlet : public DispatchOutlet {
 public:
  explicit Outlet(BluetoothMesh& mesh) : mesh_(&mesh) {}

  void Report(const std::string& report) override;
  std::tuple<bool, bool, nlohmann::json> DeviceBeaconFolds(const std::string& device_id) override;
  bool FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& block) override;
  void Enqueue(const MeshMessage& message) override;
  void Subscribe(const std::string& device_id) override;

 private:
  BluetoothMesh* mesh_;
};
