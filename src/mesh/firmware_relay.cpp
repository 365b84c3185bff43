// Firmware for the nodes: the periodic announcement of what the firmware manager offers, and
// the blocks nodes ask for.

#include <algorithm>

#include <fmt/format.h>

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "ota/ota_manager.h"
#include "packet/sensor_setting/ota_announcement.h"
#include "packet/sensor_setting/set.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"

namespace {

constexpr std::uint16_t kAllNodes = 0xC8C8;

}  // namespace

void BluetoothMesh::UpdateUpgradeSignal(bool cancelled) {
  if (cancelled) return;
  for (const FirmwareListEntry& entry : Firmware().FirmwareList()) {
    LOG_VERBOSE << "type : " << entry.type;
    LOG_VERBOSE << "version : " << entry.version;
    LOG_VERBOSE << "size : " << entry.blocks;
    const auto announcement = packet::Serialization(
        packet::sensor_setting::set::MakeOTAAnnouncement(entry.type, entry.version, entry.blocks));
    if (!announcement.empty()) Enqueue(Message{Message::kFirmware, kAllNodes, announcement});
  }
  Reschedule(upgrade_signal_timer_, options_.periods.upgrade, &BluetoothMesh::UpdateUpgradeSignal);
}

void BluetoothMesh::OnFirmwareRequest(std::uint16_t address, const std::vector<unsigned char>& data) {
  packet::sensor_setting::status::OTA request;
  if (!packet::Deserialization(request, data)) return;
  LOG_VERBOSE << fmt::format("@{:04x} ID_SETTING_FOTA : {}", address, request.BlockIndex);
  ota::Block block{};
  if (!Firmware().FirmwareBlock(address, request.FirmwareType, request.BlockIndex, block)) return;
  packet::sensor_setting::set::OTAData::Block bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  const auto message = packet::Serialization(
      packet::sensor_setting::set::OTAData(request.FirmwareType, request.BlockIndex, bytes));
  if (!message.empty()) Enqueue(Message{Message::kFirmware, address, message});
}
