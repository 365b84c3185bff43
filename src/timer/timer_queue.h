#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "timer/timer_worker.h"

namespace timer {

// One-shot timers run by a worker thread. A handler runs once: with false when its delay
// has passed, or with true when the timer is cancelled (by Cancel or by the destruction of
// the queue). Handlers may call Add and Cancel on the same queue.
// A queue makes its own worker, or shares one handed in: then its handlers take turns with
// those of the other queues on that one thread.
class TimerQueue {
 public:
  using Handler = TimerWorker::Handler;
  using Clock = TimerWorker::Clock;

  TimerQueue();
  explicit TimerQueue(std::shared_ptr<TimerWorker> worker);
  // Cancels the pending timers and returns once their handlers, and one of this queue's
  // running at the time, have finished (unless called from that handler itself). A timer
  // added while the queue is being destroyed runs at once as cancelled.
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
  std::uint64_t AddAt(Clock::time_point deadline, Handler handler);

  std::shared_ptr<TimerWorker> worker_;
  std::mutex lock_;  // orders Add against the destructor's cancellation
  bool closing_ = false;
  std::uint64_t id_counter_ = 0;
};

}  // namespace timer
