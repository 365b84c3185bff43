#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim::meshd {

// The daemon's record of every call received, message delivered and event, for the control
// commands "records" and "clear". Each entry gets "seq" and "mono_ms" (CLOCK_MONOTONIC in ms,
// comparable with the other stand-ins' records). The oldest tenth goes when it passes 10,000
// entries. Not synchronised: the daemon holds its lock around every use.
class DaemonRecord {
 public:
  void Add(nlohmann::json entry);
  const std::vector<nlohmann::json>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  static constexpr std::size_t kMaxEntries = 10000;

  std::vector<nlohmann::json> entries_;
  std::uint64_t sequence_ = 0;
};

}  // namespace sim::meshd
