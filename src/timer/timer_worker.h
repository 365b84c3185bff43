#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "mutex/semaphore.h"
#include "timer/timer_heap.h"

namespace timer {

// The thread and the deadline heap behind one or more TimerQueue objects. Each item belongs
// to one owner (a queue) and carries that owner's identifier, so queues sharing a worker keep
// their own numbering and cancel only their own timers. Handlers run one at a time on the
// worker thread, without the lock held, so they may add and cancel timers.
// A cancelled timer leaves the heap at once and its handler becomes due to run with true, so
// the heap holds no more than the pending timers and the handlers due to run.
class TimerWorker {
 public:
  using Handler = std::function<void(bool cancelled)>;
  using Clock = std::chrono::steady_clock;

  TimerWorker();
  // Runs every pending handler as cancelled, then ends the thread.
  virtual ~TimerWorker();
  TimerWorker(const TimerWorker&) = delete;
  TimerWorker& operator=(const TimerWorker&) = delete;

  // An owner gives each of its pending timers its own identifier. A timer without a handler
  // has nothing to run and is not kept: cancelling it finds nothing.
  void Add(const void* owner, std::uint64_t id, Clock::time_point deadline, Handler handler);
  // 1 when the owner's pending timer was cancelled, 0 when there was none with that id.
  std::size_t Cancel(const void* owner, std::uint64_t id);
  // Cancels every pending timer of the owner (their handlers run with true).
  void CancelAll(const void* owner);
  // Returns once every handler due by now (cancelled ones included) has run. Returns at
  // once when called on the worker thread itself, which cannot wait for itself.
  void Drain();
  bool OnWorkerThread() const { return std::this_thread::get_id() == worker_.get_id(); }
  // Items held in the heap: pending timers, plus handlers due to run and internal steps. For
  // tests and benchmarks that check the heap's growth.
  std::size_t PendingItems() const;

 private:
  struct TimerKey {
    const void* owner;
    std::uint64_t id;
    bool operator==(const TimerKey& other) const { return owner == other.owner && id == other.id; }
  };
  struct TimerKeyHash {
    std::size_t operator()(const TimerKey& key) const;
  };
  using PendingTimers = std::unordered_map<TimerKey, TimerHeap::Handle, TimerKeyHash>;

  // Moves the timer's handler to an item due at once; returns the entry after it. Caller
  // holds lock_.
  PendingTimers::iterator CancelPending(PendingTimers::iterator pending);
  void Run();
  void RunDueItems();

  mutex::Semaphore work_signal_;
  std::thread worker_;
  bool finish_ = false;  // touched only on the worker thread
  mutable std::mutex lock_;
  TimerHeap items_;
  PendingTimers pending_;  // the owners' timers in items_, by owner and identifier
};

}  // namespace timer
