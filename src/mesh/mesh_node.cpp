#include "mesh/mesh_node.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "common/fnv1a.h"
#include "log/log.h"
#include "packet/json_number.h"
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

// Minutes as seconds, saturated rather than overflowing.
std::int32_t Seconds(std::int32_t minutes) {
  const std::int64_t seconds = static_cast<std::int64_t>(minutes) * 60;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(seconds, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool Empty(const nlohmann::json& folds) { return folds.is_null() || (folds.is_structured() && folds.empty()); }

// A fold's minutes, or nothing when the cloud sent something that is not a number.
std::optional<std::int32_t> Minutes(const nlohmann::json& value) {
  if (!value.is_number() && !value.is_boolean()) return std::nullopt;
  return packet::ToInt32(value);
}

}  // namespace

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
        SendFolds(Folds());
      },
      timing_);
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
        SendBeacon(enable);
      },
      timing_);
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
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (Empty(folds_) && folds.is_object()) {
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
  }
  fold_->Start();
  LOG_VERBOSE << "channel : " << channel_;
  SendFolds(folds);
}

void MeshNode::UpdateBeacon(bool enable) {
  if (sub_device_) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    beacon_enable_ = enable;
  }
  beacon_->Start();
  SendBeacon(enable);
}

void MeshNode::KindReceived(const std::string& kind) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = kind_watchdogs_.find(kind);
  if (found != kind_watchdogs_.end()) found->second->Start();
}

void MeshNode::FoldsAcknowledged() {
  fold_->Cancel();
  const std::lock_guard<std::mutex> guard(lock_);
  if (!folds_.is_object()) return;
  for (const auto& [kind, minutes] : folds_.items()) {
    const auto found = kind_watchdogs_.find(kind);
    const auto value = Minutes(minutes);
    if (found == kind_watchdogs_.end() || !value) continue;
    found->second->SetInterval(Seconds(*value));
  }
}

void MeshNode::BeaconAcknowledged() {
  if (beacon_) beacon_->Cancel();
}

void MeshNode::CallbackQoS(const std::string& kind) {
  LOG_DEBUG << kind << " " << channel_;
  const auto bytes = packet::Serialization(packet::sensor_data::get::Data(kind, channel_));
  if (!bytes.empty()) send_(address_, bytes);
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

void MeshNode::SendFolds(const nlohmann::json& folds) {
  const auto bytes = packet::Serialization(packet::sensor_setting::set::FoldsCtrl(folds, channel_));
  if (!bytes.empty()) send_(address_, bytes);
}

void MeshNode::SendBeacon(bool enable) {
  const auto bytes = packet::Serialization(packet::sensor_setting::set::BeaconCtrl(enable));
  if (!bytes.empty()) send_(address_, bytes);
}
