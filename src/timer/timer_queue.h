#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "mutex/semaphore.h"

namespace timer {

// One-shot timers on a worker thread of their own. A handler runs once: with false when
// its delay has passed, or with true when the timer is cancelled (by Cancel or by the
// destruction of the queue). Handlers may call Add and Cancel on the same queue.
class TimerQueue {
 public:
  using Handler = std::function<void(bool cancelled)>;
  using Clock = std::chrono::steady_clock;

  TimerQueue();
  virtual ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // Identifiers count 1, 2, 3, ... per queue.
  template <typename Rep, typename Period>
  std::uint64_t Add(std::chrono::duration<Rep, Period> delay, Handler handler) {
    return AddAt(Clock::now() + std::chrono::duration_cast<Clock::duration>(delay), std::move(handler));
  }

  // 1 when a pending timer was cancelled, 0 when there was none with that identifier.
  std::size_t Cancel(std::uint64_t id);

 private:
  struct WorkItem {
    Clock::time_point deadline;
    std::uint64_t id = 0;  // 0: the item stands for a cancellation
    Handler handler;
  };
  // Orders the heap so that the smallest deadline is on top.
  struct LaterDeadline {
    bool operator()(const WorkItem& left, const WorkItem& right) const { return left.deadline > right.deadline; }
  };

  std::uint64_t AddAt(Clock::time_point deadline, Handler handler);
  void PushItem(WorkItem item);  // caller holds lock_
  void Run();
  void DiscardCancelledTop();  // caller holds lock_
  void RunDueItems();

  mutex::Semaphore work_signal_;
  std::thread worker_;
  bool finish_ = false;  // touched only on the worker thread
  std::uint64_t id_counter_ = 0;
  std::mutex lock_;
  std::vector<WorkItem> items_;  // a heap ordered by LaterDeadline
};

}  // namespace timer
