#include "mesh/mesh_node.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "common/fnv1a.h"
#include "log/log.h"
#include "packet/sensor_data/get.h"
#include "packet/sensor_setting/set.h"
#include "packet/serialization.h"

namespace {

constexpr std::int32_t kFoldInterval = 60;
constexpr std::int32_t kFoldRetry = 40;
constexpr std::int32_t kBeaconInterval = 120;
constexpr std::int32_t kBeaconRetry = 80;
constexpr std::int32_t kInfoInterval = 300;
constexpr std::int32_t kInfoRetry = 30;
constexpr std::int32_t kKindRetry = 30;
constexpr std::int64_t kLongestFold = 24 * 60;  // minutes

bool Empty(const nlohmann::json& folds) { return folds.is_null() || (folds.is_structured() && folds.empty()); }

// A fold's minutes when they are a whole number from 1 to 1440; nothing otherwise. A fold of 0
// or less would make its kind watchdog poll 5 s after every report.
std::optional<std::int32_t> Minutes(const nlohmann::json& value) {
  std::int64_t minutes = 0;
  if (value.is_number_unsigned()) {
    minutes = static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), kLongestFold + 1));
  } else if (value.is_number_integer()) {
    minutes = value.get<std::int64_t>();
  } else {
    return std::nullopt;
  }
  if (minutes < 1 || minutes > kLongestFold) return std::nullopt;
  return static_cast<std::int32_t>(minutes);
}

std::string Quoted(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Runs a record's turn at once and hands what is due to `send`.
MeshNode::Send Immediately(MeshNode::SendBytes send) {
  return [send = std::move(send)](const MeshMessage& message) {
    if (!message.on_turn || message.on_turn()) send(message.address, message.data);
  };
}

}  // namespace

MeshNode::MeshNode(std::uint16_t address, std::uint16_t device_type, std::string id, std::string version,
                   std::uint16_t extra_value, SendBytes send, std::uint16_t channel, const WatchdogTiming& timing)
    : MeshNode(address, device_type, std::move(id), std::move(version), extra_value, Immediately(std::move(send)),
               channel, timing) {}

MeshNode::MeshNode(std::uint16_t address, std::uint16_t device_type, std::string id, std::string version,
                   std::uint16_t /*extra_value: logged with the announcement, not kept*/, Send send,
                   std::uint16_t channel, const WatchdogTiming& timing)
    : address_(address),
      device_type_(device_type),
      id_hash_(Fnv1a(id)),
      id_(std::move(id)),
      version_(std::move(version)),
      sub_device_(channel != 0),
      channel_(channel),
      send_(std::move(send)),
      timing_(timing),
      last_seen_(std::time(nullptr)) {
  fold_ = std::make_unique<MeshQoS>(
      "FOLD", kFoldInterval, kFoldRetry,
      [this](const std::string&) {
        LOG_ERROR << "Folds not update ";
        QueueFolds(Folds());
      },
      timing_, MeshQoS::Retries::kFromResend);
  if (sub_device_) return;
  info_ = std::make_unique<MeshQoS>(
      "INFO", kInfoInterval, kInfoRetry, [](const std::string&) { LOG_ERROR << "Node info not updated"; }, timing_);
  beacon_ = std::make_unique<MeshQoS>(
      "BEACON", kBeaconInterval, kBeaconRetry,
      [this](const std::string& name) {
        LOG_ERROR << name << " update timeout.. retry";
        bool enable = false;
        {
          const std::lock_guard<std::mutex> guard(lock_);
          enable = beacon_enable_;
        }
        QueueBeacon(enable);
      },
      timing_, MeshQoS::Retries::kFromResend);
}

MeshNode::~MeshNode() {
  // Every watchdog is cancelled first, so an expiry already due (waiting for the shared worker
  // behind another node's) does nothing; then each ends, waiting for a running expiry, before
  // the fields they use go.
  for (MeshQoS* watchdog : {beacon_.get(), fold_.get(), info_.get()}) {
    if (watchdog != nullptr) watchdog->Cancel();
  }
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : kind_watchdogs_) entry.second->Cancel();
  }
  beacon_.reset();
  fold_.reset();
  info_.reset();
  const std::lock_guard<std::mutex> guard(lock_);
  kind_watchdogs_.clear();
}

void MeshNode::UpdateFolds(const nlohmann::json& folds) {
  if (Empty(folds)) {
    LOG_VERBOSE << "No folds for " << id_ << "; nothing sent";
    return;
  }
  if (!AcceptableFolds(folds)) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (Empty(folds_)) {
      for (const auto& [kind, minutes] : folds.items()) {
        const auto value = Minutes(minutes);
        if (!value || kind_watchdogs_.count(kind) != 0) continue;
        // The first period takes the minutes cut to one byte, as deployed gateways always have;
        // the fold acknowledgement then sets the full value (FoldsAcknowledged).
        kind_watchdogs_.emplace(kind, std::make_unique<MeshQoS>(
                                          kind, static_cast<std::uint8_t>(*value) * 60, kKindRetry,
                                          [this](const std::string& name) { CallbackQoS(name); }, timing_));
      }
    }
    folds_ = folds;
    ++folds_delivery_.current;
  }
  LOG_VERBOSE << "channel : " << channel_;
  QueueFolds(folds);
}

void MeshNode::UpdateBeacon(bool enable) {
  if (sub_device_) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    beacon_enable_ = enable;
    ++beacon_delivery_.current;
  }
  QueueBeacon(enable);
}

void MeshNode::KindReceived(const std::string& kind) {
  const std::time_t now = std::time(nullptr);
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = kind_watchdogs_.find(kind);
  if (found != kind_watchdogs_.end()) found->second->Start();
  const auto report = last_reports_.find(kind);
  if (report != last_reports_.end()) {
    report->second = now;
  } else if (last_reports_.size() < kReportKindsKept) {
    last_reports_.emplace(kind, now);
  }
}

void MeshNode::FoldsAcknowledged() {
  const std::lock_guard<std::mutex> guard(lock_);
  // Under the lock, so a newer copy's turn cannot start the watchdog in between.
  folds_delivery_.acknowledged = folds_delivery_.sent;
  fold_->Cancel();
  if (!folds_.is_object()) return;
  for (const auto& [kind, minutes] : folds_.items()) {
    const auto found = kind_watchdogs_.find(kind);
    const auto value = Minutes(minutes);
    if (found != kind_watchdogs_.end() && value) found->second->SetInterval(*value * 60);
  }
}

void MeshNode::BeaconAcknowledged() {
  if (!beacon_) return;
  const std::lock_guard<std::mutex> guard(lock_);
  beacon_delivery_.acknowledged = beacon_delivery_.sent;
  beacon_->Cancel();
}

void MeshNode::CallbackQoS(const std::string& kind) {
  LOG_DEBUG << kind << " " << channel_;
  auto bytes = packet::Serialization(packet::sensor_data::get::Data(kind, channel_));
  if (bytes.empty()) return;
  MeshMessage poll(MeshMessage::kControl, address_, std::move(bytes));
  // A poll of a kind still waiting in the queue is not asked twice.
  poll.key = std::to_string(address_) + "/get/" + std::to_string(channel_) + "/" + kind;
  send_(poll);
}

bool MeshNode::FoldsEmpty() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return Empty(folds_);
}

std::time_t MeshNode::StaleAfterSeconds() const {
  std::int64_t longest_minutes = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (folds_.is_object()) {
      for (const auto& [kind, minutes] : folds_.items()) {
        longest_minutes = std::max<std::int64_t>(longest_minutes, Minutes(minutes).value_or(0));
      }
    }
  }
  return longest_minutes == 0 ? 0 : static_cast<std::time_t>(2 * longest_minutes * 60 + 60);
}

nlohmann::json MeshNode::Folds() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return folds_;
}

mesh::NodeStatus MeshNode::Status() const {
  mesh::NodeStatus status;
  status.id = id_;
  status.address = address_;
  status.channel = channel_;
  status.type = device_type_;
  status.version = version_;
  status.last_seen = last_seen_;
  const std::lock_guard<std::mutex> guard(lock_);
  status.folds = folds_;
  status.folds_delivery = StateOf(folds_delivery_);
  status.beacon_delivery = StateOf(beacon_delivery_);
  status.last_report = last_reports_;
  return status;
}

mesh::SettingDelivery MeshNode::StateOf(const Delivery& delivery) {
  if (delivery.current == 0) return mesh::SettingDelivery::kNone;
  if (delivery.acknowledged == delivery.current) return mesh::SettingDelivery::kAcknowledged;
  if (delivery.sent == delivery.current) return mesh::SettingDelivery::kSent;
  return mesh::SettingDelivery::kWaiting;
}

bool MeshNode::AcceptableFolds(const nlohmann::json& folds) const {
  if (!folds.is_object()) {
    LOG_ERROR << "Folds of " << id_ << " refused: not an object of kinds and minutes";
    return false;
  }
  // One bad kind refuses the whole folds: a node never gets a part of what the cloud set.
  for (const auto& [kind, minutes] : folds.items()) {
    if (Minutes(minutes)) continue;
    LOG_ERROR << "Folds of " << id_ << " refused: " << Quoted(kind) << " is "
              << minutes.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
              << ", not a whole number of minutes from 1 to 1440";
    return false;
  }
  return true;
}

void MeshNode::QueueFolds(const nlohmann::json& folds) {
  QueueSetting("folds", packet::Serialization(packet::sensor_setting::set::FoldsCtrl(folds, channel_)),
               &MeshNode::FoldsTurn);
}

void MeshNode::QueueBeacon(bool enable) {
  QueueSetting("beacon", packet::Serialization(packet::sensor_setting::set::BeaconCtrl(enable)),
               &MeshNode::BeaconTurn);
}

void MeshNode::QueueSetting(const char* setting, std::vector<unsigned char> bytes, bool (MeshNode::*turn)()) {
  if (bytes.empty()) return;
  MeshMessage record(MeshMessage::kControl, address_, std::move(bytes));
  record.key = std::to_string(address_) + "/" + setting + "/" + std::to_string(channel_);
  record.on_turn = [node = weak_from_this(), turn] {
    const auto alive = node.lock();
    return alive && ((*alive).*turn)();
  };
  send_(record);
}

bool MeshNode::FoldsTurn() {
  const std::lock_guard<std::mutex> guard(lock_);
  return Turn(folds_delivery_, *fold_);
}

bool MeshNode::BeaconTurn() {
  const std::lock_guard<std::mutex> guard(lock_);
  return Turn(beacon_delivery_, *beacon_);
}

bool MeshNode::Turn(Delivery& delivery, MeshQoS& watchdog) {
  if (delivery.acknowledged == delivery.current) return false;
  if (delivery.sent == delivery.current) {
    watchdog.Resent();  // a copy the watchdog asked for
  } else {
    delivery.sent = delivery.current;
    watchdog.Start();
  }
  return true;
}
