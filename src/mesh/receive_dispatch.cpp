// What the receive thread does with each access message from a node.

#include "mesh/receive_dispatch.h"

#include <algorithm>

#include <fmt/format.h>

#include "log/log.h"
#include "packet/model_payload.h"
#include "packet/sensor_data/status.h"
#include "packet/sensor_setting/set.h"
#include "packet/sensor_setting/setting_id.h"
#include "packet/sensor_setting/status.h"
#include "packet/serialization.h"

namespace {

constexpr std::uint16_t kThreeChannelDevice = 0x192;
constexpr std::uint16_t kChannels = 3;

bool EmptyValue(const nlohmann::json& value) { return value.is_null() || (value.is_structured() && value.empty()); }

// The channel as decoded: a report's channel beyond 16 bits must not wrap onto a real sub-device.
std::string SubDeviceId(const std::string& id, std::int32_t channel) { return id + "_" + std::to_string(channel); }

}  // namespace

ReceiveDispatch::ReceiveDispatch(NodeRegistry& nodes, DispatchOutlet& outlet, WatchdogTiming timing)
    : nodes_(nodes), outlet_(outlet), timing_(std::move(timing)) {}

void ReceiveDispatch::Dispatch(const MeshMessage& message) {
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

void ReceiveDispatch::OnSensorData(std::uint16_t address, const std::vector<unsigned char>& parameters) {
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
  if (data.Channel > 0) device_id = SubDeviceId(device_id, data.Channel);
  if (const auto node = nodes_.Find(address, device_id)) {
    node->Seen();
    const auto kind = data.Value.find("k");
    // A report without a text kind is still reported; it only restarts no watchdog.
    if (kind != data.Value.end() && kind->is_string()) node->KindReceived(kind->get<std::string>());
  }
  const nlohmann::json report{{"nodes", nlohmann::json::array({{{"id", device_id}, {"vs", {data.Value}}}})}};
  const std::string text = report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  LOG_VERBOSE << fmt::format("@{:04x} {}", address, text);
  outlet_.Report(text);
}

void ReceiveDispatch::OnSettingStatus(std::uint16_t address, const std::vector<unsigned char>& parameters) {
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

void ReceiveDispatch::OnAnnouncement(std::uint16_t address, const std::vector<unsigned char>& data) {
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
  outlet_.Subscribe(info.DeviceID);
  if (three_channels) {
    for (std::uint16_t channel = 1; channel <= kChannels; ++channel) {
      outlet_.Subscribe(SubDeviceId(info.DeviceID, channel));
    }
  }
}

void ReceiveDispatch::AddAnnouncedNodes(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info) {
  LOG_VERBOSE << "Add Node";
  auto node = MakeNode(address, info, info.DeviceID, 0);
  const auto [found, beacon, folds] = outlet_.DeviceBeaconFolds(info.DeviceID);
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
    const auto [sub_found, sub_beacon, sub_folds] = outlet_.DeviceBeaconFolds(sub_id);
    if (sub_found) sub_device->UpdateFolds(sub_folds);
    nodes_.Add(std::move(sub_device));
  }
}

void ReceiveDispatch::RefreshNode(MeshNode& node) {
  LOG_VERBOSE << "Update Node : " << node.Id();
  node.Seen();
  if (!node.FoldsEmpty()) return;
  const auto [found, beacon, folds] = outlet_.DeviceBeaconFolds(node.Id());
  if (found) node.UpdateFolds(folds);
}

void ReceiveDispatch::OnFoldsAcknowledged(std::uint16_t address, const std::vector<unsigned char>& data) {
  LOG_VERBOSE << fmt::format("@{:04x} ID_SETTING_SENSOR_FOLD", address);
  packet::sensor_setting::status::DeviceFolds folds(data.size());
  if (!packet::Deserialization(folds, data)) return;
  // Routine, yet at error level on purpose: log filters in use match this line at that level.
  LOG_ERROR << folds.Channel << " " << folds.Folds.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (folds.Channel < 0 || folds.Channel > 0xFFFF) return;
  if (const auto node = nodes_.FindChannel(address, static_cast<std::uint16_t>(folds.Channel))) {
    node->FoldsAcknowledged();
  }
}

void ReceiveDispatch::OnFirmwareRequest(std::uint16_t address, const std::vector<unsigned char>& data) {
  packet::sensor_setting::status::OTA request;
  if (!packet::Deserialization(request, data)) return;
  LOG_VERBOSE << fmt::format("@{:04x} ID_SETTING_FOTA : {}", address, request.BlockIndex);
  ota::Block block{};
  if (!outlet_.FirmwareBlock(address, request.FirmwareType, request.BlockIndex, block)) return;
  packet::sensor_setting::set::OTAData::Block bytes{};
  std::copy(block.begin(), block.end(), bytes.begin());
  const auto message = packet::Serialization(
      packet::sensor_setting::set::OTAData(request.FirmwareType, request.BlockIndex, bytes));
  if (!message.empty()) outlet_.Enqueue(MeshMessage{MeshMessage::kFirmware, address, message});
}

std::shared_ptr<MeshNode> ReceiveDispatch::MakeNode(std::uint16_t address,
                                                    const packet::sensor_setting::status::DeviceInfo& info,
                                                    const std::string& id, std::uint16_t channel) const {
  // Everything a node sends is paced by the control queue.
  MeshNode::Send send = [&outlet = outlet_](const MeshMessage& record) { outlet.Enqueue(record); };
  return std::make_shared<MeshNode>(address, info.DeviceType, id, info.Version, info.Extra, std::move(send), channel,
                                    timing_);
}
