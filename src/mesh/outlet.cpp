#include "mesh/outlet.h"

#include "mailbox/depesche.h"
#include "mailbox/message_id.h"
#include "ota/firmware_source.h"
#include "server/cloud_client.h"

void BluetoothMesh::Outlet::Report(const std::string& report) { mesh_->Cloud().Report(report); }

std::tuple<bool, bool, nlohmann::json> BluetoothMesh::Outlet::DeviceBeaconFolds(const std::string& device_id) {
  return mesh_->Cloud().DeviceBeaconFolds(device_id);
}

bool BluetoothMesh::Outlet::FirmwareBlock(std::uint16_t address, int type, int index, ota::Block& block) {
  return mesh_->Firmware().FirmwareBlock(address, type, index, block);
}

void BluetoothMesh::Outlet::Enqueue(const MeshMessage& message) { mesh_->Enqueue(message); }

void BluetoothMesh::Outlet::Subscribe(const std::string& device_id) {
  if (mesh_->application_) {
    mailbox::PostMessage(*mesh_->application_, mesh_, mailbox::APP_EVT_WEBSOCKET_SUBSCRIBE,
                         mailbox::MakePayload(device_id));
  }
}
