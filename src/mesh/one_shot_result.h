#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

// A boolean outcome completed once by one thread (a D-Bus handler) and awaited by another.
// Later completions are ignored, so a repeated or late answer from a peer is harmless.
class OneShotResult {
 public:
  void Complete(bool value);
  // The outcome, or nothing when `timeout` passes first.
  std::optional<bool> WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex lock_;
  std::condition_variable completed_;
  std::optional<bool> value_;
};
