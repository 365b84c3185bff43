#include "mesh/device_settings_fetcher.h"

#include <algorithm>

#include "log/log.h"

DeviceSettingsFetcher::DeviceSettingsFetcher(Fetch fetch, Apply apply, FetcherOptions options)
    : fetch_(std::move(fetch)),
      apply_(std::move(apply)),
      options_(options),
      dropped_("Device settings requests dropped (too many pending) since the last notice: "),
      worker_([this] { Run(); }) {}

DeviceSettingsFetcher::~DeviceSettingsFetcher() { Stop(); }

void DeviceSettingsFetcher::Stop() {
  stop_.Stop();
  if (worker_.joinable()) worker_.join();
}

void DeviceSettingsFetcher::Request(const std::string& device_id, bool with_beacon) {
  std::optional<DeviceSettings> cached;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = cache_.find(device_id);
    if (found != cache_.end() && std::chrono::steady_clock::now() - found->second.fetched_at < options_.fresh_for) {
      cached = found->second.settings;
      ++totals_.from_cache;
    } else {
      Queue(device_id, with_beacon);
    }
  }
  if (cached) {
    apply_(device_id, *cached, with_beacon);
  } else {
    stop_.Notify();
  }
}

void DeviceSettingsFetcher::RememberFolds(const std::string& device_id, const nlohmann::json& folds) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = cache_.find(device_id);
  if (found != cache_.end()) found->second.settings.folds = folds;
}

void DeviceSettingsFetcher::RememberBeacon(const std::string& device_id, bool enable) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = cache_.find(device_id);
  if (found != cache_.end()) found->second.settings.ble_enabled = enable;
}

DeviceSettingsFetcher::Counters DeviceSettingsFetcher::Totals() const {
  Counters totals;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    totals = totals_;
  }
  totals.dropped = dropped_.Total();
  return totals;
}

std::size_t DeviceSettingsFetcher::Pending() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return order_.size();
}

std::vector<std::string> DeviceSettingsFetcher::PendingIds() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return {order_.begin(), order_.end()};
}

void DeviceSettingsFetcher::Run() {
  std::chrono::milliseconds pause{0};
  while (stop_.WaitUntil([this] { return HasPending(); })) {
    if (FetchNext()) {
      pause = std::chrono::milliseconds(0);
      continue;
    }
    pause = pause.count() == 0 ? options_.retry_first : std::min(pause * 2, options_.retry_max);
    LOG_ERROR << "Device settings not fetched from the cloud; next attempt in " << pause.count() / 1000.0 << " s";
    if (!stop_.WaitFor(pause)) break;
  }
}

bool DeviceSettingsFetcher::FetchNext() {
  std::string device_id;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (order_.empty()) return true;
    device_id = order_.front();
  }
  const std::optional<DeviceSettings> settings = fetch_(device_id);
  bool with_beacon = false;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!settings) {
      ++totals_.failed;
      // Stays first in line: the same device is asked for again after the pause.
      return false;
    }
    ++totals_.fetched;
    order_.erase(std::find(order_.begin(), order_.end(), device_id));
    const auto pending = pending_.find(device_id);
    with_beacon = pending->second;
    pending_.erase(pending);
    Store(device_id, *settings);
  }
  apply_(device_id, *settings, with_beacon);
  return true;
}

bool DeviceSettingsFetcher::HasPending() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return !order_.empty();
}

void DeviceSettingsFetcher::Queue(const std::string& device_id, bool with_beacon) {
  const auto pending = pending_.find(device_id);
  if (pending != pending_.end()) {
    pending->second = pending->second || with_beacon;
  } else if (order_.size() >= options_.max_pending) {
    dropped_.Add(1);
  } else {
    order_.push_back(device_id);
    pending_.emplace(device_id, with_beacon);
  }
}

void DeviceSettingsFetcher::Store(const std::string& device_id, const DeviceSettings& settings) {
  const auto now = std::chrono::steady_clock::now();
  const auto [entry, added] = cache_.insert_or_assign(device_id, Cached{settings, now});
  if (!added) {
    cache_order_.erase(std::find(cache_order_.begin(), cache_order_.end(), device_id));
  }
  cache_order_.push_back(device_id);
  while (cache_order_.size() > std::max<std::size_t>(options_.max_cached, 1)) {
    cache_.erase(cache_order_.front());
    cache_order_.pop_front();
  }
}
