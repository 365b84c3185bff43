#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace ota {

// Seconds since the epoch; tests hand in a clock of their own.
using SessionClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

// The devices currently downloading firmware, by mesh unicast address, with the time of
// each one's last block request. At most `limit()` at once; a session idle for 301 s or
// more is removed by Expire.
class FirmwareSessions {
 public:
  static constexpr std::int64_t kIdleSeconds = 301;

  FirmwareSessions(std::function<std::uint32_t()> limit, SessionClock clock);

  // Refreshes the address's session, or admits it when there is room; false when full.
  bool Update(std::uint16_t address);
  // Removes the sessions idle for kIdleSeconds or more.
  void Expire();
  bool Any() const;

 private:
  std::function<std::uint32_t()> limit_;
  SessionClock clock_;
  mutable std::mutex lock_;
  std::unordered_map<std::uint16_t, std::int64_t> sessions_;
};

}  // namespace ota
