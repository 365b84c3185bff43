#include "timer/timer_heap.h"

#include <utility>

namespace timer {

TimerHeap::Handle TimerHeap::Push(WorkItem item) {
  const std::size_t position = nodes_.size();
  nodes_.push_back(std::make_unique<Node>(Node{std::move(item), position}));
  const Handle handle = nodes_.back().get();
  SiftUp(position);
  return handle;
}

WorkItem TimerHeap::Take(Handle handle) {
  const std::size_t position = handle->position;
  const std::unique_ptr<Node> taken = std::move(nodes_[position]);
  std::unique_ptr<Node> last = std::move(nodes_.back());
  nodes_.pop_back();
  if (position < nodes_.size()) {
    // The last item fills the gap and moves up or down to its place.
    Place(position, std::move(last));
    if (position > 0 && Earlier(position, (position - 1) / 2)) {
      SiftUp(position);
    } else {
      SiftDown(position);
    }
  }
  return std::move(taken->item);
}

bool TimerHeap::Earlier(std::size_t left, std::size_t right) const {
  return nodes_[left]->item.deadline < nodes_[right]->item.deadline;
}

void TimerHeap::Place(std::size_t position, std::unique_ptr<Node> node) {
  node->position = position;
  nodes_[position] = std::move(node);
}

void TimerHeap::Swap(std::size_t left, std::size_t right) {
  std::swap(nodes_[left], nodes_[right]);
  nodes_[left]->position = left;
  nodes_[right]->position = right;
}

void TimerHeap::SiftUp(std::size_t position) {
  while (position > 0) {
    const std::size_t parent = (position - 1) / 2;
    if (!Earlier(position, parent)) return;
    Swap(position, parent);
    position = parent;
  }
}

void TimerHeap::SiftDown(std::size_t position) {
  for (;;) {
    std::size_t earliest = position;
    for (const std::size_t child : {2 * position + 1, 2 * position + 2}) {
      if (child < nodes_.size() && Earlier(child, earliest)) earliest = child;
    }
    if (earliest == position) return;
    Swap(position, earliest);
    position = earliest;
  }
}

}  // namespace timer
