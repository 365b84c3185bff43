#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace testing_support {

// A gate that threads wait at while it is closed: a test holds a worker inside a call (a send,
// a hand-over) to fill the queue behind it, then opens the gate. Open at first.
class Gate {
 public:
  void Close() {
    const std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
  }
  void Open() {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      closed_ = false;
    }
    opened_.notify_all();
  }
  // Returns at once while open; otherwise counts the caller as held and waits for Open.
  void Pass() {
    std::unique_lock<std::mutex> guard(lock_);
    if (!closed_) return;
    ++held_;
    opened_.wait(guard, [this] { return !closed_; });
  }
  // How many callers the gate has held so far.
  int Held() const { return held_; }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool closed_ = false;
  std::atomic<int> held_{0};
};

}  // namespace testing_support
