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
      OnSensorData(message, payload.Parameters);
      break;
    case packet::kFoldedSensorSettingStatus:
      OnSettingStatus(message.address, payload.Parameters);
      break;
    default:
      break;
  }
}

void ReceiveDispatch::ApplyDeviceSettings(const std::string& device_id, const DeviceSettings& settings,
                                          bool with_beacon) {
  const auto node = nodes_.FindById(device_id);
  if (!node) return;  // gone while its settings were fetched
  node->UpdateFolds(settings.folds);
  if (with_beacon && !node->IsSubDevice()) node->UpdateBeacon(settings.ble_enabled);
}

void ReceiveDispatch::OnSensorData(const MeshMessage& message, const std::vector<unsigned char>& parameters) {
  const std::uint16_t address = message.address;
  // "ts" is when the mesh daemon delivered the report, not when it was decoded.
  const packet::UnixClock delivered = [at = message.received_at] { return at != 0 ? at : packet::SystemUnixTime(); };
  packet::sensor_data::status::Data data(delivered);
  if (!packet::Deserialization(data, parameters) || EmptyValue(data.Value)) {
    LOG_ERROR << "Parse Error..";
    return;
  }
  const auto main_node = nodes_.MainNode(address);
  if (!main_node) {
    LOG_ERROR << fmt::format("Cannot find Device ID for {:04x}", address);
    return;
  }
  main_node->Seen();  // a sub-device's report shows the device alive
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
  ForgetOtherDevice(address, info.DeviceID);
  if (const auto known = nodes_.Find(address, info.DeviceID)) {
    RefreshNode(*known);
    LOG_VERBOSE << "Number of Mesh node : " << nodes_.CountAt(address);
    nodes_.SeenAll(address);
  } else {
    AddMainNode(address, info);
  }
  if (three_channels) AddMissingSubDevices(address, info);
  outlet_.Subscribe(info.DeviceID);
  if (three_channels) {
    for (std::uint16_t channel = 1; channel <= kChannels; ++channel) {
      outlet_.Subscribe(SubDeviceId(info.DeviceID, channel));
    }
  }
}

void ReceiveDispatch::ForgetOtherDevice(std::uint16_t address, const std::string& device_id) {
  const auto ours = [&device_id](const std::string& id) {
    return id == device_id || (id.size() > device_id.size() && id.compare(0, device_id.size(), device_id) == 0 &&
                               id[device_id.size()] == '_');
  };
  for (const auto& id : nodes_.IdsAt(address)) {
    if (ours(id)) continue;
    LOG_ERROR << fmt::format("Device {} announced at {:04x}, where {} was: the old device's nodes are forgotten",
                             device_id, address, id);
    nodes_.RemoveAll(address);
    break;
  }
  // The device itself may have come back under a new address.
  if (const auto elsewhere = nodes_.FindById(device_id); elsewhere && elsewhere->Address() != address) {
    LOG_ERROR << fmt::format("Device {} moved from {:04x} to {:04x}: its nodes at the old address are forgotten",
                             device_id, elsewhere->Address(), address);
    nodes_.RemoveAll(elsewhere->Address());
  }
}

void ReceiveDispatch::AddMainNode(std::uint16_t address, const packet::sensor_setting::status::DeviceInfo& info) {
  LOG_VERBOSE << "Add Node";
  nodes_.Add(MakeNode(address, info, info.DeviceID, 0));
  outlet_.RequestDeviceSettings(info.DeviceID, true);
}

void ReceiveDispatch::AddMissingSubDevices(std::uint16_t address,
                                           const packet::sensor_setting::status::DeviceInfo& info) {
  for (std::uint16_t channel = 1; channel <= kChannels; ++channel) {
    const std::string sub_id = SubDeviceId(info.DeviceID, channel);
    if (nodes_.Find(address, sub_id)) continue;
    LOG_VERBOSE << "add sub device : " << sub_id;
    nodes_.Add(MakeNode(address, info, sub_id, channel));
    outlet_.RequestDeviceSettings(sub_id, false);
  }
}

void ReceiveDispatch::RefreshNode(MeshNode& node) {
  LOG_VERBOSE << "Update Node : " << node.Id();
  node.Seen();
  if (!node.FoldsEmpty()) return;
  outlet_.RequestDeviceSettings(node.Id(), false);
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
