#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ota/firmware_status.h"

namespace ota {

// Seconds since the epoch; tests hand in a clock of their own.
using SessionClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

// The devices currently downloading firmware, by mesh unicast address: the firmware type
// each one reads, the time of its last block request and of its last progress (a request
// for another block than the one before). At most `limit()` at once. Expire ends a session
// idle for 301 s, and one that has not advanced for 600 s; a device whose session ended for
// want of progress is refused that same block, without a session, until it asks for another.
class FirmwareSessions {
 public:
  static constexpr std::int64_t kIdleSeconds = 301;
  static constexpr std::int64_t kStallSeconds = 600;
  // Devices remembered at the block their session stalled on; the oldest is forgotten first.
  static constexpr std::size_t kStalledRemembered = 64;

  FirmwareSessions(std::function<std::uint32_t()> limit, SessionClock clock);

  // Refreshes the address's session for block `index` of `type`, or admits it when there is
  // room; false when full, or when the device is still at the block its stalled session
  // ended on. The caller has checked that the block exists.
  bool Update(std::uint16_t address, int type, int index);
  // Ends the sessions idle for kIdleSeconds or without progress for kStallSeconds.
  void Expire();
  bool Any() const;
  // Whether a session reads `type`.
  bool Reads(int type) const;
  // A copy of the sessions, by address (the image sizes left to the caller).
  std::vector<SessionStatus> Snapshot() const;

 private:
  struct Session {
    int type = 0;
    int index = 0;
    std::int64_t last_request = 0;
    std::int64_t last_advance = 0;
  };
  struct StalledAt {
    int type = 0;
    int index = 0;
    std::int64_t since = 0;
  };
  // Whether the device is asking again for the block its stalled session ended on (lock held).
  bool StillStalled(std::uint16_t address, int type, int index);
  void RememberStalled(std::uint16_t address, const Session& session, std::int64_t now);

  std::function<std::uint32_t()> limit_;
  SessionClock clock_;
  mutable std::mutex lock_;
  std::unordered_map<std::uint16_t, Session> sessions_;
  std::unordered_map<std::uint16_t, StalledAt> stalled_;
};

}  // namespace ota
