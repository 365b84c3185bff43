// Firmware for the nodes: the periodic announcement of what the firmware manager offers (the
// blocks nodes ask for are served by the receive dispatch).

#include "log/log.h"
#include "mesh/bluetooth_mesh.h"
#include "ota/firmware_source.h"
#include "packet/sensor_setting/ota_announcement.h"
#include "packet/sensor_setting/set.h"
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
