#include "mesh/bluetooth_mesh.h"

#include "log/log.h"

BluetoothMesh::BluetoothMesh(std::shared_ptr<mailbox::DepeschePoster> application)
    : application_(std::move(application)) {}

BluetoothMesh::~BluetoothMesh() = default;

bool BluetoothMesh::Initialize() {
  LOG_ERROR << "Bluetooth mesh is not available in this build";
  return false;
}

void BluetoothMesh::Deinitialize() {}

void BluetoothMesh::UpdateBeacon(const std::string& device_id, const bool& enable) {
  LOG_VERBOSE << device_id << " " << enable;
}

void BluetoothMesh::UpdateFolds(const std::string& /*device_id*/, const nlohmann::json& /*folds*/) {}
