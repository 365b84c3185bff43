#include "meshd/sensor_node.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace sim::meshd {

namespace {

using namespace std::chrono_literals;
using sensor_wire::GatewayMessage;

constexpr auto kBlockWait = 12s;
constexpr int kBlockRetries = 10;
constexpr std::uint8_t kSensorDataStatus = 0xC1;
constexpr std::size_t kReportHeader = 6;  // opcode and the three header bytes before the body
constexpr std::size_t kRecentReports = 32;

nlohmann::json DefaultFolds(std::uint16_t channel, bool three_channels) {
  if (channel > 0) return {{"current", 1}};
  if (three_channels) return {{"temp", 1}};
  return {{"temp", 1}, {"humi", 1}};
}

// Readings that drift slowly around a level typical of the kind.
nlohmann::json Reading(const std::string& kind, double seconds, std::uint16_t address) {
  const double wave = std::sin(seconds / 60.0 + address);
  if (kind == "temp") return std::round((21.0 + 3.0 * wave) * 10.0) / 10.0;
  if (kind == "current") return std::round((2.5 + wave) * 100.0) / 100.0;
  if (kind == "humi") return static_cast<int>(45 + 10 * wave);
  return static_cast<int>(std::hash<std::string>{}(kind) % 100 + static_cast<std::size_t>(5 + 5 * wave));
}

std::chrono::milliseconds FoldInterval(const nlohmann::json& minutes, std::chrono::milliseconds minute) {
  if (!minutes.is_number()) return 0ms;
  const double value = minutes.get<double>();
  if (!(value > 0) || value > 255) return 0ms;
  // Never faster than ten reports a second, whatever fraction of a minute a fold names.
  const auto interval = std::chrono::milliseconds(static_cast<std::int64_t>(value * static_cast<double>(minute.count())));
  return std::max(interval, std::chrono::milliseconds(100));
}

}  // namespace

SensorNode::SensorNode(SensorIdentity identity, SensorClock::time_point now)
    : identity_(std::move(identity)), created_(now), random_(identity_.address) {
  const bool three = identity_.device_type == kThreeChannelType;
  channels_[0].folds = DefaultFolds(0, three);
  if (three) {
    for (std::uint16_t channel = 1; channel <= 3; ++channel) channels_[channel].folds = DefaultFolds(channel, three);
  }
}

std::string SensorNode::Id() const {
  std::string text;
  for (const auto byte : identity_.device_id) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

std::vector<std::string> SensorNode::DeviceIds() const {
  std::vector<std::string> ids;
  for (const auto& [channel, state] : channels_) ids.push_back(channel == 0 ? Id() : Id() + "_" + std::to_string(channel));
  return ids;
}

nlohmann::json SensorNode::DefaultKinds() const {
  nlohmann::json kinds = nlohmann::json::object();
  const bool three = identity_.device_type == kThreeChannelType;
  for (const auto& [channel, state] : channels_) {
    const std::string id = channel == 0 ? Id() : Id() + "_" + std::to_string(channel);
    // Held by name: the items of a temporary would dangle inside the loop.
    const nlohmann::json folds = DefaultFolds(channel, three);
    for (const auto& entry : folds.items()) kinds[id].push_back(entry.key());
  }
  return kinds;
}

void SensorNode::SetMinute(std::chrono::milliseconds minute, SensorClock::time_point now) {
  minute_ = std::max(minute, std::chrono::milliseconds(100));
  for (auto& [number, channel] : channels_) {
    channel.next_report.clear();
    Schedule(channel, now);
  }
}

bool SensorNode::Lost() {
  return faults_.loss > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(random_) < faults_.loss;
}

std::vector<Bytes> SensorNode::Outgoing(std::vector<Bytes> messages) {
  if (faults_.silent) return {};
  std::vector<Bytes> sent;
  for (auto& message : messages) {
    if (Lost()) continue;
    if (!faults_.malformed && !message.empty() && message[0] == kSensorDataStatus) {
      ++reports_sent_;
      // Kept so a test can tell what reached the cloud from what the node measured.
      recent_reports_.push_back(nlohmann::json::from_cbor(message.begin() + kReportHeader, message.end()));
      if (recent_reports_.size() > kRecentReports) recent_reports_.pop_front();
    }
    if (faults_.malformed) {
      // Cut short or scrambled after the opcode, never empty.
      std::uniform_int_distribution<std::size_t> cut(1, message.size());
      message.resize(cut(random_));
      for (std::size_t index = 3; index < message.size(); ++index) message[index] ^= static_cast<std::uint8_t>(random_());
    }
    sent.push_back(std::move(message));
  }
  return sent;
}

std::vector<Bytes> SensorNode::Hear(const Bytes& message, SensorClock::time_point now) {
  if (Lost()) return {};
  const auto decoded = sensor_wire::Decode(message);
  if (!decoded) return {};
  switch (decoded->kind) {
    case GatewayMessage::Kind::kBeaconOfGateway:
      return Outgoing(OnGatewayInfo(*decoded, now));
    case GatewayMessage::Kind::kFolds:
      return Outgoing(OnFolds(decoded->body, now));
    case GatewayMessage::Kind::kBeacon:
      beacon_enabled_ = decoded->beacon_enabled;
      ++beacon_acknowledged_;
      return Outgoing({sensor_wire::BeaconAcknowledgement(beacon_enabled_)});
    case GatewayMessage::Kind::kDataGet:
      return Outgoing(OnDataGet(decoded->body, now));
    case GatewayMessage::Kind::kOffer:
      return Outgoing(OnFirmwareOffer(*decoded, now));
    case GatewayMessage::Kind::kBlock:
      return Outgoing(OnFirmwareBlock(*decoded, now));
  }
  return {};
}

std::vector<Bytes> SensorNode::OnGatewayInfo(const GatewayMessage& message, SensorClock::time_point now) {
  const bool new_gateway = message.gateway_address != gateway_;
  gateway_ = message.gateway_address;
  if (new_gateway) {
    for (auto& [number, channel] : channels_) Schedule(channel, now);
  }
  return {Announce()};
}

Bytes SensorNode::Announce() const {
  return sensor_wire::Announcement(identity_.device_id, identity_.device_type, identity_.version, identity_.address);
}

std::vector<Bytes> SensorNode::OnFolds(nlohmann::json body, SensorClock::time_point now) {
  const nlohmann::json echo = body;
  std::uint16_t number = 0;
  if (body.contains("CH")) {
    if (!body.at("CH").is_number_unsigned()) return {};
    number = body.at("CH").get<std::uint16_t>();
    body.erase("CH");
  }
  const auto channel = channels_.find(number);
  if (channel == channels_.end()) return {};
  channel->second.folds = std::move(body);
  channel->second.next_report.clear();
  Schedule(channel->second, now);
  ++channel->second.folds_acknowledged;
  return {sensor_wire::FoldsAcknowledgement(echo)};
}

std::vector<Bytes> SensorNode::OnDataGet(const nlohmann::json& body, SensorClock::time_point now) {
  std::string kind;
  std::uint16_t channel = 0;
  if (body.is_array() && body.size() == 1 && body.at(0).is_string()) {
    kind = body.at(0).get<std::string>();
  } else if (body.is_object() && body.size() == 1 && body.begin().value().is_number_unsigned()) {
    kind = body.begin().key();
    channel = body.begin().value().get<std::uint16_t>();
  } else {
    return {};
  }
  if (channels_.count(channel) == 0 || gateway_ == 0) return {};
  ++gets_answered_;
  return {Report(channel, kind, now)};
}

std::vector<Bytes> SensorNode::OnFirmwareOffer(const GatewayMessage& message, SensorClock::time_point now) {
  if (message.firmware_type != identity_.firmware_type || !(identity_.version < message.version)) return {};
  if (firmware_.active && firmware_.version == message.version) return {};
  // The gateway announces its image's size in 16-byte blocks.
  const std::uint16_t blocks = message.firmware_size;
  if (blocks == 0 || gateway_ == 0) return {};
  firmware_ = FirmwareTransfer{};
  firmware_.active = true;
  firmware_.type = message.firmware_type;
  firmware_.version = message.version;
  firmware_.blocks = blocks;
  firmware_.retry_at = now + kBlockWait;
  return {sensor_wire::BlockRequest(firmware_.type, 0)};
}

std::vector<Bytes> SensorNode::OnFirmwareBlock(const GatewayMessage& message, SensorClock::time_point now) {
  if (!firmware_.active || message.firmware_type != firmware_.type || message.block_index != firmware_.next_block) return {};
  firmware_.image.insert(firmware_.image.end(), message.block.begin(), message.block.end());
  firmware_.retries = 0;
  firmware_.retry_at = now + kBlockWait;
  if (++firmware_.next_block < firmware_.blocks) return {sensor_wire::BlockRequest(firmware_.type, firmware_.next_block)};
  // The whole image arrived: the node runs it and tells the gateway its new version.
  firmware_.active = false;
  identity_.version = firmware_.version;
  installed_.push_back(firmware_.version.Text());
  return {Announce()};
}

void SensorNode::Schedule(Channel& channel, SensorClock::time_point now) {
  for (auto entry = channel.next_report.begin(); entry != channel.next_report.end();) {
    entry = channel.folds.contains(entry->first) ? std::next(entry) : channel.next_report.erase(entry);
  }
  if (!channel.folds.is_object()) return;
  for (const auto& [kind, minutes] : channel.folds.items()) {
    const auto interval = FoldInterval(minutes, minute_);
    if (interval <= 0ms || channel.next_report.count(kind) != 0) continue;
    // The first report somewhere within the interval, so a field of nodes does not report at once.
    std::uniform_int_distribution<std::int64_t> offset(interval.count() / 10, interval.count());
    channel.next_report[kind] = now + std::chrono::milliseconds(offset(random_));
  }
}

Bytes SensorNode::Report(std::uint16_t channel, const std::string& kind, SensorClock::time_point now) {
  nlohmann::json body{{"k", kind}, {"v", Value(channels_[channel], kind, now)}};
  if (channel > 0) body["c"] = channel;
  return sensor_wire::SensorDataStatus(body);
}

nlohmann::json SensorNode::Value(Channel& channel, const std::string& kind, SensorClock::time_point now) {
  if (counting_values_) return ++channel.reports_of_kind[kind];
  const double seconds = std::chrono::duration<double>(now - created_).count();
  return Reading(kind, seconds, identity_.address);
}

std::vector<Bytes> SensorNode::Due(SensorClock::time_point now) {
  std::vector<Bytes> due;
  if (gateway_ == 0) return due;
  for (auto& [number, channel] : channels_) {
    for (auto& [kind, next] : channel.next_report) {
      if (next > now) continue;
      const auto interval = FoldInterval(channel.folds.value(kind, nlohmann::json()), minute_);
      next = std::max(next + interval, now + interval / 10);
      due.push_back(Report(number, kind, now));
    }
  }
  if (firmware_.active && firmware_.retry_at <= now) {
    if (++firmware_.retries > kBlockRetries) {
      firmware_.active = false;  // the gateway stopped serving: give up until the next offer
    } else {
      firmware_.retry_at = now + kBlockWait;
      due.push_back(sensor_wire::BlockRequest(firmware_.type, firmware_.next_block));
    }
  }
  return Outgoing(std::move(due));
}

SensorClock::time_point SensorNode::NextDue() const {
  auto next = SensorClock::time_point::max();
  if (gateway_ == 0) return next;
  for (const auto& [number, channel] : channels_) {
    for (const auto& [kind, at] : channel.next_report) next = std::min(next, at);
  }
  if (firmware_.active) next = std::min(next, firmware_.retry_at);
  return next;
}

std::vector<Bytes> SensorNode::LeaveGateway() {
  std::vector<Bytes> leave = Outgoing({sensor_wire::Leave()});
  gateway_ = 0;
  return leave;
}

nlohmann::json SensorNode::Describe() const {
  nlohmann::json channels = nlohmann::json::object();
  for (const auto& [number, channel] : channels_) {
    channels[std::to_string(number)] = {{"folds", channel.folds}, {"folds_acknowledged", channel.folds_acknowledged}};
  }
  return {{"address", identity_.address},
          {"id", Id()},
          {"type", identity_.device_type},
          {"version", identity_.version.Text()},
          {"gateway", gateway_},
          {"beacon_enabled", beacon_enabled_},
          {"beacon_acknowledged", beacon_acknowledged_},
          {"reports_sent", reports_sent_},
          {"recent_reports", recent_reports_},
          {"gets_answered", gets_answered_},
          {"channels", channels},
          {"firmware", {{"active", firmware_.active}, {"next_block", firmware_.next_block}, {"blocks", firmware_.blocks}}},
          {"installed", installed_},
          {"faults", {{"loss", faults_.loss}, {"silent", faults_.silent}, {"malformed", faults_.malformed}}}};
}

}  // namespace sim::meshd
