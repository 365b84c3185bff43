// What the receive thread does with each access message from a node.

#include <fmt/format.h>

#include "log/log.h"
#include "mailbox/message_id.h"
#include "mailbox/depesche.h"
#include "mesh/bluetooth_mesh.h"
#include "packet/model_payload.h"
#include "packet/sensor_data/status.h"
#include "packet/sensor_setting/setting_id.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"
#include "server/server_api.h"

namespace {

constexpr std::uint16_t kThreeChannelDevice = 0x192;
constexpr std::uint16_t kChannels = 3;

bool EmptyValue(const nlohmann::json& value) { return value.is_null() || (value.is_structured() && value.empty()); }

std::string SubDeviceId(const std::string& id, std::uint16_t channel) { return id + "_" + std::to_string(channel); }

}  // namespace

void BluetoothMesh::Dispatch(const Message& message) {
  if (message.data.size() < 3) {
    LOG_ERROR << fmt::format("Message from {:04x} shorter than an opcode ({} bytes); dropped", message.address,
                             message.data.size());
    return;
  }
  packet::ModelPayload payload(message.data.size());
  if (!packet::Deserialization(payload, message.data)) return;
  switch (payload.Folded()) {
    case packet::kFoldedSensorDataStatus:
      OnSensorData(message.address, payload.Parameters);
      break;
    case packet::kFoldedSensorSettingStatus:
      OnSettingStatus(message.address, payload.Parameters);
      break;
    default:
      break;
  }
}

void BluetoothMesh::OnSensorData(std::uint16_t address, const std::vector<unsigned char>& parameters) {
  packet::sensor_data::status::Data data;
  if (!packet::Deserialization(data, parameters) || EmptyValue(data.Value)) {
    LOG_ERROR << "Parse Error..";
    return;
  }
  const auto main_node = nodes_.MainNode(address);
  if (!main_node) {
    LOG_ERROR << fmt::format("Cannot find Device ID for {:04x}", address);
    return;
  }
  std::string device_id = main_node->Id();
  if (data.Channel > 0) device_id = SubDeviceId(device_id, static_cast<std::uint16_t>(data.Channel));
  if (const auto node = nodes_.Find(address, device_id)) {
    node->Seen();
    const auto kind = data.Value.find("k");
    // A report without a text kind is still reported; it only restarts no watchdog.
    if (kind != data.Value.end() && kind->is_string()) node->KindReceived(kind->get<std::string>());
  }
  const nlohmann::json report{{"nodes", nlohmann::json::array({{{"id", device_id}, {"vs", {data.Value}}}})}};
  const std::string text = report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  LOG_VERBOSE << fmt::format("@{:04x} {}", address, text);
  Cloud().Report(text);
}

void BluetoothMesh::OnSettingStatus(std::uint16_t address, const std::vector<unsigned char>& parameters) {
  packet::sensor_setting::status::Header header(parameters.size());
  if (!packet::Deserialization(header, parameters)) return;
  switch (header.Identifier) {
    case packet::sensor_setting::kGatewayInfo:
      OnAnnouncement(address, header.Data);
      break;
    case packet::sensor_setting::kSensorFold:
      OnFoldsAcknowledged(address, header.Data);
      break;
    case packet::sensor_setting::kBeaconCtrl:
      LOG_VERBOSE << fmt::format("@{:04x}ID_SETTING_BEACON_CTRL", address);
      if (const auto node = nodes_.MainNode(address)) node->BeaconAcknowledged();
      break;
    case packet::sensor_setting::kFirmware:
      OnFirmwareRequest(address, header.Data);
      break;
    case packet::sensor_setting::kLeaveGateway:
      LOG_VERBOSE << fmt::format("Leave Gateway from {} {}", address, nodes_.RemoveAll(address) ? 1 : 0);
      break;
    default:
      break;
  }
}

void BluetoothMesh::OnAnnouncement(std::uint16_t address, const std::vector<unsigned char>& data) {
  packet::sensor_setting::status::DeviceInfo info;
  if (!packet::Deserialization(info, data)) return;
  LOG_VERBOSE << "---------------";
  LOG_VERBOSE << info.DeviceID << " " << info.DeviceType << " " << info.Version << " " << info.Extra;
  LOG_VERBOSE << "---------------";
  const bool three_channels = info.DeviceType == kThreeChannelDevice;
  if (const auto known = nodes_.Find(address, info.DeviceID)) {
    RefreshNode(*known);
    LOG_VERBOSE << "Number of Mesh node : " << nodes_.CountAt(address);
    nodes_.SeenAll(address);
  } else {
    AddAnnouncedNodes(address, info);
  }
  Subscribe(info.DeviceID);
  if (three_channels) {
    for (std::uint16_t channel = 1; channel <= kChannels; ++channel) Subscribe(SubDeviceId(info.DeviceID, channel));
  }
}

void BluetoothMesh::AddAnnouncedNodes(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info) {
  LOG_VERBOSE << "Add Node";
  auto node = MakeNode(address, info, info.DeviceID, 0);
  const auto [found, beacon, folds] = Cloud().DeviceBeaconFolds(info.DeviceID);
  if (found) {
    node->UpdateFolds(folds);
    node->UpdateBeacon(beacon);
  }
  nodes_.Add(std::move(node));
  if (info.DeviceType != kThreeChannelDevice) return;
  for (std::uint16_t channel = 1; channel <= kChannels; ++channel) {
    const std::string sub_id = SubDeviceId(info.DeviceID, channel);
    LOG_VERBOSE << "add sub device : " << sub_id;
    auto sub_device = MakeNode(address, info, sub_id, channel);
    const auto [sub_found, sub_beacon, sub_folds] = Cloud().DeviceBeaconFolds(sub_id);
    if (sub_found) sub_device->UpdateFolds(sub_folds);
    nodes_.Add(std::move(sub_device));
  }
}

void BluetoothMesh::RefreshNode(MeshNode& node) {
  LOG_VERBOSE << "Update Node : " << node.Id();
  node.Seen();
  if (!node.FoldsEmpty()) return;
  const auto [found, beacon, folds] = Cloud().DeviceBeaconFolds(node.Id());
  if (found) node.UpdateFolds(folds);
}

void BluetoothMesh::OnFoldsAcknowledged(std::uint16_t address, const std::vector<unsigned char>& data) {
  LOG_VERBOSE << fmt::format("@{:04x} ID_SETTING_SENSOR_FOLD", address);
  packet::sensor_setting::status::DeviceFolds folds(data.size());
  if (!packet::Deserialization(folds, data)) return;
  LOG_ERROR << folds.Channel << " " << folds.Folds.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (folds.Channel < 0 || folds.Channel > 0xFFFF) return;
  if (const auto node = nodes_.FindChannel(address, static_cast<std::uint16_t>(folds.Channel))) {
    node->FoldsAcknowledged();
  }
}

void BluetoothMesh::Subscribe(const std::string& device_id) {
  if (application_) {
    mailbox::PostMessage(*application_, this, mailbox::APP_EVT_WEBSOCKET_SUBSCRIBE, mailbox::MakePayload(device_id));
  }
}
