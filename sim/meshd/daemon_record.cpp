#include "meshd/daemon_record.h"

#include <chrono>

namespace sim::meshd {

void DaemonRecord::Add(nlohmann::json entry) {
  entry["seq"] = ++sequence_;
  entry["mono_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  entries_.push_back(std::move(entry));
  if (entries_.size() > kMaxEntries) entries_.erase(entries_.begin(), entries_.begin() + kMaxEntries / 10);
}

}  // namespace sim::meshd
