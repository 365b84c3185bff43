#include "timer/timer_worker.h"

#include <optional>
#include <utility>

namespace timer {

TimerWorker::TimerWorker() { worker_ = std::thread([this] { Run(); }); }

TimerWorker::~TimerWorker() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto pending = pending_.begin(); pending != pending_.end();) pending = CancelPending(pending);
    // Every pending handler is now due at the epoch, so it runs (cancelled) before this one ends the loop.
    items_.Push(WorkItem{Clock::now(), nullptr, 0, [this](bool) { finish_ = true; }});
  }
  work_signal_.Notify();
  worker_.join();
}

void TimerWorker::Add(const void* owner, std::uint64_t id, Clock::time_point deadline, Handler handler) {
  if (!handler) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    pending_.emplace(TimerKey{owner, id}, items_.Push(WorkItem{deadline, owner, id, std::move(handler)}));
  }
  work_signal_.Notify();
}

std::size_t TimerWorker::Cancel(const void* owner, std::uint64_t id) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto pending = pending_.find(TimerKey{owner, id});
    if (pending == pending_.end()) return 0;
    CancelPending(pending);
  }
  work_signal_.Notify();
  return 1;
}

void TimerWorker::CancelAll(const void* owner) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto pending = pending_.begin(); pending != pending_.end();) {
      pending = pending->first.owner == owner ? CancelPending(pending) : std::next(pending);
    }
  }
  work_signal_.Notify();
}

TimerWorker::PendingTimers::iterator TimerWorker::CancelPending(PendingTimers::iterator pending) {
  WorkItem timer = items_.Take(pending->second);
  items_.Push(WorkItem{Clock::time_point{}, timer.owner, 0, std::move(timer.handler)});
  return pending_.erase(pending);
}

void TimerWorker::Drain() {
  if (OnWorkerThread()) return;
  mutex::Semaphore done;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    items_.Push(WorkItem{Clock::now(), nullptr, 0, [&done](bool) { done.Notify(); }});
  }
  work_signal_.Notify();
  done.Wait();
}

std::size_t TimerWorker::PendingItems() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return items_.Size();
}

std::size_t TimerWorker::TimerKeyHash::operator()(const TimerKey& key) const {
  // Mixes the two hashes so that nearby owners with small identifiers spread over the buckets.
  const std::size_t owner_hash = std::hash<const void*>{}(key.owner);
  return owner_hash ^ (std::hash<std::uint64_t>{}(key.id) + 0x9e3779b9U + (owner_hash << 6) + (owner_hash >> 2));
}

void TimerWorker::Run() {
  while (!finish_) {
    std::optional<Clock::time_point> next_deadline;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (!items_.Empty()) next_deadline = items_.Top().deadline;
    }
    if (next_deadline) {
      work_signal_.WaitUntil(*next_deadline);
    } else {
      work_signal_.Wait();
    }
    RunDueItems();
  }
}

void TimerWorker::RunDueItems() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!finish_ && !items_.Empty() && items_.Top().deadline <= Clock::now()) {
    WorkItem due = items_.TakeTop();
    if (due.id != 0) pending_.erase(TimerKey{due.owner, due.id});
    guard.unlock();
    due.handler(due.id == 0);
    guard.lock();
  }
}

}  // namespace timer
