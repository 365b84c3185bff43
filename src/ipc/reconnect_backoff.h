#pragma once

#include <algorithm>
#include <chrono>

namespace ipc {

// The pauses between attempts to reach the bus again after it went away: the first pause,
// then each one twice the one before, up to the longest.
class ReconnectBackoff {
 public:
  using Duration = std::chrono::milliseconds;

  static constexpr Duration kFirst = std::chrono::seconds(1);
  static constexpr Duration kLongest = std::chrono::seconds(30);

  explicit ReconnectBackoff(Duration first = kFirst, Duration longest = kLongest)
      : first_(first), longest_(std::max(first, longest)), next_(first) {}

  // The pause before the coming attempt.
  Duration Next() {
    const Duration pause = next_;
    next_ = std::min(next_ * 2, longest_);
    return pause;
  }
  // After a success the next loss starts again with the first pause.
  void Reset() { next_ = first_; }

 private:
  Duration first_;
  Duration longest_;
  Duration next_;
};

}  // namespace ipc
