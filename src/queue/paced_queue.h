#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "queue/keyed_paced_queue.h"

namespace queue {

// A first-in-first-out queue without keys (and, unless given one, without bound), drained by its own paced worker: one item
// per pass, handed to `handle`, then the pace (see PacedWorker). Pushing is callable from any
// thread.
//
// Thread: the worker's, started by the constructor. Ownership: the items until handed over.
template <typename T>
class PacedQueue {
 public:
  // Without a bound (the default) nothing is ever dropped.
  PacedQueue(std::chrono::milliseconds pace, std::function<void(T)> handle, QueueBound bound = {})
      : items_(pace, bound, [handle = std::move(handle)](T item) {
          handle(std::move(item));
          return true;
        }) {}

  // Returns what became of the item (see Pushed): dropping happens only with a bound.
  Pushed Push(const T& item) { return items_.Push(item); }
  bool Empty() const { return items_.Empty(); }
  // Items not yet handed over (the one being handled is no longer counted).
  std::size_t Size() const { return items_.Counters().waiting; }
  // Ends the worker (see PacedWorker::Stop); items still queued stay unsent.
  void Stop() { items_.Stop(); }

 private:
  KeyedPacedQueue<T> items_;
};

}  // namespace queue
