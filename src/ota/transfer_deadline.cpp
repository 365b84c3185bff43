#include "ota/transfer_deadline.h"

#include <algorithm>

namespace ota {

TransferDeadline::TransferDeadline(std::chrono::milliseconds floor, std::uint64_t rate)
    : floor_(floor), rate_(std::clamp<std::uint64_t>(rate, 1, 1000000000000ull)) {}

std::chrono::milliseconds TransferDeadline::Allowed(std::uint64_t size) const {
  // size / rate seconds in milliseconds, saturating at about a century instead of overflowing.
  constexpr std::uint64_t kLongest = 100ull * 366 * 24 * 3600;
  const std::uint64_t seconds = std::min(size / rate_, kLongest);
  const std::uint64_t fraction = (size % rate_) * 1000 / rate_;
  return floor_ + std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(seconds * 1000 + fraction));
}

bool TransferDeadline::Passed(std::chrono::milliseconds elapsed, std::uint64_t announced,
                              std::uint64_t received) const {
  return elapsed > Allowed(announced > 0 ? announced : received);
}

}  // namespace ota
