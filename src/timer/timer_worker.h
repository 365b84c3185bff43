#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "mutex/semaphore.h"

namespace timer {

// The thread and the deadline heap behind one or more TimerQueue objects. Each item belongs
// to one owner (a queue) and carries that owner's identifier, so queues sharing a worker keep
// their own numbering and cancel only their own timers. Handlers run one at a time on the
// worker thread, without the lock held, so they may add and cancel timers.
class TimerWorker {
 public:
  using Handler = std::function<void(bool cancelled)>;
  using Clock = std::chrono::steady_clock;

  TimerWorker();
  // Runs every pending handler as cancelled, then ends the thread.
  virtual ~TimerWorker();
  TimerWorker(const TimerWorker&) = delete;
  TimerWorker& operator=(const TimerWorker&) = delete;

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
  struct WorkItem {
    Clock::time_point deadline;
    const void* owner = nullptr;
    std::uint64_t id = 0;  // 0: the item stands for a cancellation or an internal step
    Handler handler;
  };
  // Orders the heap so that the smallest deadline is on top.
  struct LaterDeadline {
    bool operator()(const WorkItem& left, const WorkItem& right) const { return left.deadline > right.deadline; }
  };

  void PushItem(WorkItem item);  // caller holds lock_
  void CancelItem(WorkItem& item);  // caller holds lock_
  void Run();
  void DiscardCancelledTop();  // caller holds lock_
  void RunDueItems();

  mutex::Semaphore work_signal_;
  std::thread worker_;
  bool finish_ = false;  // touched only on the worker thread
  mutable std::mutex lock_;
  std::vector<WorkItem> items_;  // a heap ordered by LaterDeadline
};

}  // namespace timer
