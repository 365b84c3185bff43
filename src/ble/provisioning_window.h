#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace ble {

// The time in which the gateway advertises and takes a phone's requests: a length from each
// opening (the start, a press of the button). A length of zero keeps it open for good.
// Thread-safe.
class ProvisioningWindow {
 public:
  using Clock = std::chrono::steady_clock;

  // Opens the window for `length` from `now` (for good when zero).
  void Open(Clock::time_point now, Clock::duration length);
  // Closes it for good (provisioning has ended).
  void Close();
  bool IsOpen(Clock::time_point now) const;
  // When an open window closes; nothing when it is open for good or closed.
  std::optional<Clock::time_point> ClosesAt(Clock::time_point now) const;

 private:
  mutable std::mutex lock_;
  bool opened_ = false;
  std::optional<Clock::time_point> closes_at_;  // nothing: open for good
};

}  // namespace ble
