// Firmware for the nodes: the periodic announcement of what the firmware manager offers, and
// the blocks nodes ask for.

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"

void BluetoothMesh::UpdateUpgradeSignal(bool cancelled) {
  if (cancelled) return;
  Reschedule(upgrade_signal_timer_, options_.periods.upgrade, &BluetoothMesh::UpdateUpgradeSignal);
}

void BluetoothMesh::OnFirmwareRequest(std::uint16_t address, const std::vector<unsigned char>& data) {
  packet::sensor_setting::status::OTA request;
  if (!packet::Deserialization(request, data)) return;
  LOG_VERBOSE << fmt::format("@{:04x} ID_SETTING_FOTA : {}", address, request.BlockIndex);
}
