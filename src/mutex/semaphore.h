#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace mutex {

// Counting semaphore starting at 0.
class Semaphore {
 public:
  Semaphore() = default;
  virtual ~Semaphore() = default;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void Notify();
  void Wait();
  // Waits until the counter is above 0 or `deadline` has passed; true when it took a count.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex lock_;
  std::condition_variable signal_;
  long counter_ = 0;
};

}  // namespace mutex
