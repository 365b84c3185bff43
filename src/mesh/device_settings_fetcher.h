#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/drop_notice.h"
#include "mutex/stop_signal.h"

// A device's settings at the cloud: its beacon setting and its folds.
struct DeviceSettings {
  bool ble_enabled = false;
  nlohmann::json folds;
};

// Bounds and waits of the fetcher; the defaults are the daemon's.
struct FetcherOptions {
  std::size_t max_pending = 1024;  // device ids waiting for a fetch
  std::size_t max_cached = 1024;   // settings kept, the oldest fetched forgotten first
  std::chrono::seconds fresh_for{3600};  // a cached entry older than this is fetched again
  std::chrono::milliseconds retry_first{5000};  // pause after a failed fetch, doubling...
  std::chrono::milliseconds retry_max{300000};  // ...up to this, back to none on success
};

// Fetches the cloud's settings of devices on a thread of its own, so the thread that asks
// (the mesh receive thread) never waits on the network. A request is answered at once from a
// fresh cached entry, else queued (one entry per device id) and answered when the fetch
// succeeds; a failed fetch is queued again and the worker pauses, doubling the pause while the
// cloud keeps failing. Cloud pushes update cached entries.
//
// Threads: its worker, started by the constructor and ended by Stop or the destructor; `fetch`
// and the answers to queued requests run on it, answers from the cache on the caller's thread.
// Ownership: `fetch` and `apply` and what they use outlive the fetcher.
class DeviceSettingsFetcher {
 public:
  using Fetch = std::function<std::optional<DeviceSettings>(const std::string& device_id)>;
  // `with_beacon`: the requester also wants the beacon setting applied.
  using Apply = std::function<void(const std::string& device_id, const DeviceSettings& settings, bool with_beacon)>;

  struct Counters {
    std::uint64_t fetched = 0;
    std::uint64_t failed = 0;
    std::uint64_t from_cache = 0;
    std::uint64_t dropped = 0;  // requests refused with the pending list full
  };

  DeviceSettingsFetcher(Fetch fetch, Apply apply, FetcherOptions options = {});
  ~DeviceSettingsFetcher();
  DeviceSettingsFetcher(const DeviceSettingsFetcher&) = delete;
  DeviceSettingsFetcher& operator=(const DeviceSettingsFetcher&) = delete;

  void Request(const std::string& device_id, bool with_beacon);
  // The cloud pushed a setting: a cached entry takes it.
  void RememberFolds(const std::string& device_id, const nlohmann::json& folds);
  void RememberBeacon(const std::string& device_id, bool enable);
  // Ends the worker; a fetch in progress is finished first, queued requests stay unanswered.
  void Stop();

  Counters Totals() const;
  std::size_t Pending() const;
  // The device ids waiting for a fetch, oldest first.
  std::vector<std::string> PendingIds() const;

 private:
  struct Cached {
    DeviceSettings settings;
    std::chrono::steady_clock::time_point fetched_at;
  };

  void Run();
  // Fetches the oldest pending device; returns whether the cloud answered.
  bool FetchNext();
  bool HasPending() const;
  // Under lock_: adds a pending request, merging with one for the same device; dropped
  // (counted) when the pending list is full.
  void Queue(const std::string& device_id, bool with_beacon);
  void Store(const std::string& device_id, const DeviceSettings& settings);  // under lock_

  const Fetch fetch_;
  const Apply apply_;
  const FetcherOptions options_;

  mutable std::mutex lock_;  // everything below but the worker
  std::deque<std::string> order_;                 // pending device ids, oldest first
  std::unordered_map<std::string, bool> pending_;  // device id -> with_beacon
  std::unordered_map<std::string, Cached> cache_;
  std::deque<std::string> cache_order_;  // cached ids, oldest stored first
  Counters totals_;  // but `dropped`, which dropped_ counts
  logging::DropNotice dropped_;

  mutex::StopSignal stop_;
  std::thread worker_;  // last: starts once the rest exists
};
