#pragma once

#include <chrono>
#include <optional>

#include "ipc/reconnect_backoff.h"

namespace ble {

// When the next attempt to publish the provisioning service is due while bluetoothd is
// absent or refuses: after each failure a pause, from the first doubling to the longest.
// bluetoothd appearing on the bus shortens the pending pause to the first one, so an
// attempt follows soon but never sooner than the first pause after the last failure.
class RetrySchedule {
 public:
  using Clock = std::chrono::steady_clock;

  RetrySchedule(std::chrono::milliseconds first, std::chrono::milliseconds longest);

  // An attempt failed at `now`: the next is due after the next pause.
  void Failed(Clock::time_point now);
  // An attempt succeeded: nothing is due, and the next failure pauses the first pause again.
  void Succeeded();
  void BluezAppeared();
  // When the next attempt is due; nothing when none is pending.
  std::optional<Clock::time_point> Due() const { return due_; }
  // The pause before the pending attempt (for the log).
  Clock::duration Pause() const { return pause_; }

 private:
  const Clock::duration first_;
  ipc::ReconnectBackoff backoff_;
  std::optional<Clock::time_point> failed_at_;
  std::optional<Clock::time_point> due_;
  Clock::duration pause_{};
};

}  // namespace ble
