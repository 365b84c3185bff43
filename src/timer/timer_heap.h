#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace timer {

// One entry of a timer worker's heap: an owner's timer, or a handler due at once (a
// cancellation or an internal step, which carry identifier 0).
struct WorkItem {
  std::chrono::steady_clock::time_point deadline;
  const void* owner = nullptr;
  std::uint64_t id = 0;
  std::function<void(bool cancelled)> handler;
};

// A heap of work items with the earliest deadline on top, from which any item can also be
// taken out in logarithmic time: each item knows its place in the heap, and the handle Push
// returns leads to it without a search. Not thread-safe; the worker guards it with its lock.
class TimerHeap {
  struct Node {
    WorkItem item;
    std::size_t position = 0;
  };

 public:
  // Names an item while it is in the heap; it dangles once the item has been taken out.
  using Handle = const Node*;

  TimerHeap() = default;
  virtual ~TimerHeap() = default;
  TimerHeap(const TimerHeap&) = delete;
  TimerHeap& operator=(const TimerHeap&) = delete;

  Handle Push(WorkItem item);
  WorkItem Take(Handle handle);
  // The item with the earliest deadline; the heap must not be empty.
  const WorkItem& Top() const { return nodes_.front()->item; }
  WorkItem TakeTop() { return Take(nodes_.front().get()); }
  bool Empty() const { return nodes_.empty(); }
  std::size_t Size() const { return nodes_.size(); }

 private:
  bool Earlier(std::size_t left, std::size_t right) const;
  void Place(std::size_t position, std::unique_ptr<Node> node);
  void Swap(std::size_t left, std::size_t right);
  void SiftUp(std::size_t position);
  void SiftDown(std::size_t position);

  std::vector<std::unique_ptr<Node>> nodes_;  // nodes stay put, so handles survive reordering
};

}  // namespace timer
