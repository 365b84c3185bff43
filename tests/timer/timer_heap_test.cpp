#include "timer/timer_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

timer::WorkItem ItemAt(int seconds, std::uint64_t id) {
  return timer::WorkItem{Clock::time_point{} + std::chrono::seconds(seconds), nullptr, id, nullptr};
}

// Pushes items with random deadlines (duplicates included), takes some out through their
// handles, then empties the heap from the top: the rest must come out in deadline order.
TEST(TimerHeap, TakingAnyItemKeepsTheRestInDeadlineOrder) {
  std::mt19937 random(7);
  for (const std::size_t count : {1u, 2u, 3u, 10u, 257u}) {
    timer::TimerHeap heap;
    std::vector<timer::TimerHeap::Handle> handles;
    std::vector<int> deadlines;
    std::uniform_int_distribution<int> deadline(0, static_cast<int>(count));
    for (std::size_t index = 0; index < count; ++index) {
      deadlines.push_back(deadline(random));
      handles.push_back(heap.Push(ItemAt(deadlines.back(), index)));
    }
    std::vector<bool> taken(count, false);
    for (std::size_t index = 0; index < count; index += 2) {  // every other one, in a shuffled order
      const std::size_t victim = (index * 7) % count;
      if (taken[victim]) continue;
      const auto item = heap.Take(handles[victim]);
      EXPECT_EQ(item.id, victim);
      EXPECT_EQ(item.deadline, ItemAt(deadlines[victim], 0).deadline);
      taken[victim] = true;
    }
    std::vector<std::uint64_t> expected;
    for (std::size_t index = 0; index < count; ++index) {
      if (!taken[index]) expected.push_back(index);
    }
    EXPECT_EQ(heap.Size(), expected.size());
    std::vector<std::uint64_t> popped;
    Clock::time_point previous{};
    while (!heap.Empty()) {
      const auto item = heap.TakeTop();
      EXPECT_GE(item.deadline, previous) << "count " << count;
      previous = item.deadline;
      popped.push_back(item.id);
    }
    std::sort(popped.begin(), popped.end());
    EXPECT_EQ(popped, expected) << "count " << count;
  }
}

}  // namespace
