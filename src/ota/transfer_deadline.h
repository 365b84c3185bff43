#pragma once

#include <chrono>
#include <cstdint>

namespace ota {

// The overall time a download may take, besides the stall rule: `floor` plus one second for
// every `rate` bytes of its size, the size being the one announced or, while none is, the
// bytes received so far. A trickle just above the stall limit therefore ends after about the
// floor, and a large file gets time in proportion to its size.
class TransferDeadline {
 public:
  TransferDeadline(std::chrono::milliseconds floor, std::uint64_t rate);

  // The time allowed for a download of `size` bytes.
  std::chrono::milliseconds Allowed(std::uint64_t size) const;
  // Whether `elapsed` is past the time allowed; `announced` 0 means nothing was announced.
  bool Passed(std::chrono::milliseconds elapsed, std::uint64_t announced, std::uint64_t received) const;

 private:
  std::chrono::milliseconds floor_;
  std::uint64_t rate_;  // bytes a second, from 1 to 10^12
};

}  // namespace ota
