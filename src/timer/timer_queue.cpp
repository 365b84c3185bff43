#include "timer/timer_queue.h"

namespace timer {

TimerQueue::TimerQueue() : TimerQueue(std::make_shared<TimerWorker>()) {}

TimerQueue::TimerQueue(std::shared_ptr<TimerWorker> worker) : worker_(std::move(worker)) {}

TimerQueue::~TimerQueue() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
    worker_->CancelAll(this);
  }
  worker_->Drain();
}

std::uint64_t TimerQueue::AddAt(Clock::time_point deadline, Handler handler) {
  std::unique_lock<std::mutex> guard(lock_);
  if (closing_) {
    guard.unlock();
    if (handler) handler(true);
    return 0;
  }
  const std::uint64_t id = ++id_counter_;
  worker_->Add(this, id, deadline, std::move(handler));
  return id;
}

std::size_t TimerQueue::Cancel(std::uint64_t id) { return worker_->Cancel(this, id); }

}  // namespace timer
