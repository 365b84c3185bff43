#include "timer/timer_queue.h"

#include <algorithm>
#include <optional>

namespace timer {

TimerQueue::TimerQueue() { worker_ = std::thread([this] { Run(); }); }

TimerQueue::~TimerQueue() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto& item : items_) {
      if (item.id == 0) continue;
      item.deadline = Clock::time_point{};
      item.id = 0;
    }
    std::make_heap(items_.begin(), items_.end(), LaterDeadline{});
  }
  work_signal_.Notify();
  // Every pending item now lies at the epoch, so it runs (cancelled) before this one ends the loop.
  Add(std::chrono::seconds(0), [this](bool) { finish_ = true; });
  worker_.join();
}

std::uint64_t TimerQueue::AddAt(Clock::time_point deadline, Handler handler) {
  std::uint64_t id = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    id = ++id_counter_;
    PushItem(WorkItem{deadline, id, std::move(handler)});
  }
  work_signal_.Notify();
  return id;
}

std::size_t TimerQueue::Cancel(std::uint64_t id) {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = std::find_if(items_.begin(), items_.end(), [id](const WorkItem& item) {
      return item.id == id && static_cast<bool>(item.handler);
    });
    if (found == items_.end()) return 0;
    // The found item keeps its place in the heap with an empty handler and is discarded
    // when it reaches the top; the handler moves to a fresh item due at once.
    WorkItem cancellation{Clock::time_point{}, 0, std::move(found->handler)};
    found->handler = nullptr;
    PushItem(std::move(cancellation));
  }
  work_signal_.Notify();
  return 1;
}

void TimerQueue::PushItem(WorkItem item) {
  items_.push_back(std::move(item));
  std::push_heap(items_.begin(), items_.end(), LaterDeadline{});
}

void TimerQueue::DiscardCancelledTop() {
  while (!items_.empty() && !items_.front().handler) {
    std::pop_heap(items_.begin(), items_.end(), LaterDeadline{});
    items_.pop_back();
  }
}

void TimerQueue::Run() {
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

void TimerQueue::RunDueItems() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!items_.empty() && items_.front().deadline <= Clock::now()) {
    std::pop_heap(items_.begin(), items_.end(), LaterDeadline{});
    WorkItem due = std::move(items_.back());
    items_.pop_back();
    guard.unlock();
    if (due.handler) due.handler(due.id == 0);
    guard.lock();
  }
}

}  // namespace timer
