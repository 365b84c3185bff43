#include "timer/timer_worker.h"

#include <algorithm>
#include <optional>

namespace timer {

TimerWorker::TimerWorker() { worker_ = std::thread([this] { Run(); }); }

TimerWorker::~TimerWorker() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto& item : items_) {
      if (item.id == 0) continue;
      item.deadline = Clock::time_point{};
      item.id = 0;
    }
    std::make_heap(items_.begin(), items_.end(), LaterDeadline{});
    // Every pending item now lies at the epoch, so it runs (cancelled) before this one ends the loop.
    PushItem(WorkItem{Clock::now(), nullptr, 0, [this](bool) { finish_ = true; }});
  }
  work_signal_.Notify();
  worker_.join();
}

void TimerWorker::Add(const void* owner, std::uint64_t id, Clock::time_point deadline, Handler handler) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    PushItem(WorkItem{deadline, owner, id, std::move(handler)});
  }
  work_signal_.Notify();
}

std::size_t TimerWorker::Cancel(const void* owner, std::uint64_t id) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = std::find_if(items_.begin(), items_.end(), [owner, id](const WorkItem& item) {
      return item.owner == owner && item.id == id && static_cast<bool>(item.handler);
    });
    if (found == items_.end()) return 0;
    CancelItem(*found);
  }
  work_signal_.Notify();
  return 1;
}

void TimerWorker::CancelAll(const void* owner) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    // Collected first: pushing the cancellations may reallocate the heap.
    std::vector<std::size_t> found;
    for (std::size_t index = 0; index < items_.size(); ++index) {
      const auto& item = items_[index];
      if (item.owner == owner && item.id != 0 && item.handler) found.push_back(index);
    }
    for (const auto index : found) CancelItem(items_[index]);
  }
  work_signal_.Notify();
}

void TimerWorker::CancelItem(WorkItem& item) {
  // The item keeps its place in the heap with an empty handler and is discarded when it
  // reaches the top; the handler moves to a fresh item due at once.
  WorkItem cancellation{Clock::time_point{}, item.owner, 0, std::move(item.handler)};
  item.handler = nullptr;
  PushItem(std::move(cancellation));
}

void TimerWorker::Drain() {
  if (OnWorkerThread()) return;
  mutex::Semaphore done;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    PushItem(WorkItem{Clock::now(), nullptr, 0, [&done](bool) { done.Notify(); }});
  }
  work_signal_.Notify();
  done.Wait();
}

std::size_t TimerWorker::PendingItems() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return items_.size();
}

void TimerWorker::PushItem(WorkItem item) {
  items_.push_back(std::move(item));
  std::push_heap(items_.begin(), items_.end(), LaterDeadline{});
}

void TimerWorker::DiscardCancelledTop() {
  while (!items_.empty() && !items_.front().handler) {
    std::pop_heap(items_.begin(), items_.end(), LaterDeadline{});
    items_.pop_back();
  }
}

void TimerWorker::Run() {
  while (!finish_) {
    std::optional<Clock::time_point> next_deadline;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      DiscardCancelledTop();
      if (!items_.empty()) next_deadline = items_.front().deadline;
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
  while (!finish_ && !items_.empty() && items_.front().deadline <= Clock::now()) {
    std::pop_heap(items_.begin(), items_.end(), LaterDeadline{});
    WorkItem due = std::move(items_.back());
    items_.pop_back();
    guard.unlock();
    if (due.handler) due.handler(due.id == 0);
    guard.lock();
  }
}

}  // namespace timer
