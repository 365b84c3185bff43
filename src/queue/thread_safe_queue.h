#pragma once

#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace queue {

// Locked, unbounded, non-blocking first-in-first-out queue.
template <typename T>
class ThreadSafeQueue {
 public:
  ThreadSafeQueue() = default;
  virtual ~ThreadSafeQueue() = default;
  ThreadSafeQueue(const ThreadSafeQueue&) = delete;
  ThreadSafeQueue& operator=(const ThreadSafeQueue&) = delete;

  void Push(const T& item) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      items_.push_back(item);
    }
    signal_.notify_one();
  }

  // The front element, or a value-initialised T when the queue is empty.
  T Pop() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (items_.empty()) return T{};
    T front = std::move(items_.front());
    items_.pop_front();
    return front;
  }

  bool Empty() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return items_.empty();
  }

  std::size_t Size() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return items_.size();
  }

  // For polling consumers: waits until an element is queued or `timeout` has passed,
  // whichever comes first. True when the queue holds an element.
  template <typename Rep, typename Period>
  bool WaitFor(std::chrono::duration<Rep, Period> timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return signal_.wait_for(guard, timeout, [this] { return !items_.empty(); });
  }

  // For a consumer that sleeps until there is work: waits until an element is queued or
  // the queue is closed. True when the queue holds an element.
  bool Wait() const {
    std::unique_lock<std::mutex> guard(lock_);
    signal_.wait(guard, [this] { return !items_.empty() || closed_; });
    return !items_.empty();
  }

  // Ends every Wait, now and later (the consumer is shutting down). Pushing still works.
  void Close() {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      closed_ = true;
    }
    signal_.notify_all();
  }

 private:
  std::deque<T> items_;
  bool closed_ = false;
  mutable std::mutex lock_;
  mutable std::condition_variable signal_;
};

}  // namespace queue
