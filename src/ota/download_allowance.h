#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ota {

// What one download may write: at most `limit` bytes (the largest file of its kind, or the
// size the firmware document gives it), and no more than its folder has free beyond the
// margin kept for everything else there (the log shares the router's /var).
struct DownloadAllowance {
  // Free bytes beyond the margin.
  std::uint64_t Room() const { return free > margin ? free - margin : 0; }
  // Why a file of `size` bytes may not be written, or nothing when it may. `what` names the
  // size ("announced", "received").
  std::optional<std::string> Refuses(std::uint64_t size, const char* what) const;

  std::uint64_t limit = 0;
  std::uint64_t free = 0;
  std::uint64_t margin = 0;
};

}  // namespace ota
