#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace queue {

// Locked ring of fixed capacity. PushBack on a full ring drops the oldest element;
// PushFront (putting back an element whose delivery failed) on a full ring drops the newest.
template <typename T>
class CircularBuffer {
 public:
  explicit CircularBuffer(std::size_t capacity) : slots_(capacity) {}
  virtual ~CircularBuffer() = default;
  CircularBuffer(const CircularBuffer&) = delete;
  CircularBuffer& operator=(const CircularBuffer&) = delete;

  void PushBack(const T& item) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!slots_.empty()) {
      slots_[tail_] = item;
      tail_ = Next(tail_);
      if (count_ < slots_.size()) {
        ++count_;
      } else {
        head_ = tail_;
      }
    }
    signal_.notify_one();
  }

  void PushFront(const T& item) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!slots_.empty()) {
      head_ = Previous(head_);
      slots_[head_] = item;
      if (count_ < slots_.size()) {
        ++count_;
      } else {
        tail_ = head_;
      }
    }
    signal_.notify_one();
  }

  // The oldest element, or an empty T when the ring is empty.
  T PopFront() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (count_ == 0) return T{};
    T front = std::move(slots_[head_]);
    slots_[head_] = T{};
    head_ = Next(head_);
    --count_;
    return front;
  }

  std::size_t Size() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return count_;
  }

  bool Empty() const { return Size() == 0; }

  // For polling consumers: waits until an element is stored or `timeout` has passed.
  template <typename Rep, typename Period>
  bool WaitFor(std::chrono::duration<Rep, Period> timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return signal_.wait_for(guard, timeout, [this] { return count_ > 0; });
  }

 private:
  std::size_t Next(std::size_t position) const { return position + 1 == slots_.size() ? 0 : position + 1; }
  std::size_t Previous(std::size_t position) const { return position == 0 ? slots_.size() - 1 : position - 1; }

  std::vector<T> slots_;
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
  std::size_t count_ = 0;
  mutable std::mutex lock_;
  mutable std::condition_variable signal_;
};

}  // namespace queue
