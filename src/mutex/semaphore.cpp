#include "mutex/semaphore.h"

namespace mutex {

void Semaphore::Notify() {
  const std::lock_guard<std::mutex> guard(lock_);
  ++counter_;
  signal_.notify_one();
}

void Semaphore::Wait() {
  std::unique_lock<std::mutex> guard(lock_);
  signal_.wait(guard, [this] { return counter_ > 0; });
  --counter_;
}

bool Semaphore::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!signal_.wait_until(guard, deadline, [this] { return counter_ > 0; })) return false;
  --counter_;
  return true;
}

}  // namespace mutex
