#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// Polls `condition` until it holds or `timeout` has passed; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testing_support
