#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <utility>

#include "queue/paced_worker.h"
#include "queue/thread_safe_queue.h"

namespace queue {

// A first-in-first-out queue drained by its own paced worker: one item per pass, handed to
// `handle`, then the pace (see PacedWorker). Pushing is callable from any thread.
//
// Thread: the worker's, started by the constructor. Ownership: the items until handed over.
template <typename T>
class PacedQueue {
 public:
  PacedQueue(std::chrono::milliseconds pace, std::function<void(T)> handle)
      : handle_(std::move(handle)),
        worker_(
            pace, [this] { return !items_.Empty(); }, [this] { handle_(items_.Pop()); }) {}
  PacedQueue(const PacedQueue&) = delete;
  PacedQueue& operator=(const PacedQueue&) = delete;

  void Push(const T& item) {
    items_.Push(item);
    worker_.Wake();
  }
  // Pushes, dropping the oldest items beyond `capacity`; returns how many were dropped.
  std::size_t PushBounded(const T& item, std::size_t capacity) {
    const std::size_t dropped = items_.PushBounded(item, capacity);
    worker_.Wake();
    return dropped;
  }
  bool Empty() const { return items_.Empty(); }
  // Items not yet handed over (the one being handled is no longer counted).
  std::size_t Size() const { return items_.Size(); }
  // Ends the worker (see PacedWorker::Stop); items still queued stay unsent.
  void Stop() { worker_.Stop(); }

 private:
  const std::function<void(T)> handle_;
  ThreadSafeQueue<T> items_;
  PacedWorker worker_;  // last: its thread starts once the queue exists, and ends first
};

}  // namespace queue
