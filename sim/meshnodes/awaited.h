#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace sim::meshnodes {

// A value one thread waits for and another hands over (the mesh daemon's answers, which
// arrive on the D-Bus event loop while a joining node waits on its worker).
template <typename Value>
class Awaited {
 public:
  void Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    value_.reset();
  }
  void Set(Value value) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      value_ = std::move(value);
    }
    ready_.notify_all();
  }
  // The value, taken, or nothing once `deadline` has passed.
  std::optional<Value> Take(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_until(lock, deadline, [this] { return value_.has_value(); });
    auto value = std::move(value_);
    value_.reset();
    return value;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::optional<Value> value_;
};

}  // namespace sim::meshnodes
