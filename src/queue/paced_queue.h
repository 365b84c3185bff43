#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "queue/keyed_paced_queue.h"

namespace queue {

// A first-in-first-out queue without bound or keys, drained by its own paced worker: one item
// per pass, handed to `handle`, then the pace (see PacedWorker). Pushing is callable from any
// thread.
//
// Thread: the worker's, started by the constructor. Ownership: the items until handed over.
template <typename T>
class PacedQueue {
 public:
  PacedQueue(std::chrono::milliseconds pace, std::function<void(T)> handle)
      : items_(pace, QueueBound{}, [handle = std::move(handle)](T item) {
          handle(std::move(item));
          return true;
        }) {}

  void Push(const T& item) { items_.Push(item); }
  bool Empty() const { return items_.Empty(); }
  // Ends the worker (see PacedWorker::Stop); items still queued stay unsent.
  void Stop() { items_.Stop(); }

 private:
  KeyedPacedQueue<T> items_;
};

}  // namespace queue
