#include "mesh/one_shot_result.h"

void OneShotResult::Complete(bool value) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (value_) return;
    value_ = value;
  }
  completed_.notify_all();
}

std::optional<bool> OneShotResult::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  completed_.wait_for(guard, timeout, [this] { return value_.has_value(); });
  return value_;
}
