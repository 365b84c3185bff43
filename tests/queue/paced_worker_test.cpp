#include "queue/paced_queue.h"
#include "queue/paced_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What a worker handed over, with the time of each.
class Handled {
 public:
  void Add(int item) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      items_.push_back(item);
      times_.push_back(Clock::now());
    }
    changed_.notify_all();
  }
  // Waits (with a deadline) until `count` items were handed over.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, 20s, [&] { return items_.size() >= count; });
  }
  std::vector<int> Items() {
    const std::lock_guard<std::mutex> guard(lock_);
    return items_;
  }
  std::vector<Clock::time_point> Times() {
    const std::lock_guard<std::mutex> guard(lock_);
    return times_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<int> items_;
  std::vector<Clock::time_point> times_;
};

}  // namespace

TEST(PacedQueue, HandsItemsOverInOrderAtLeastThePaceApart) {
  Handled handled;
  queue::PacedQueue<int> paced(40ms, [&](int item) { handled.Add(item); });
  for (int item = 1; item <= 4; ++item) paced.Push(item);
  ASSERT_TRUE(handled.WaitFor(4));
  EXPECT_EQ(handled.Items(), (std::vector<int>{1, 2, 3, 4}));
  const auto times = handled.Times();
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 40ms) << i;
}

TEST(PacedQueue, AnItemPushedToAnIdleQueueGoesAtOnceAndStopEndsAPause) {
  Handled handled;
  queue::PacedQueue<int> paced(1h, [&](int item) { handled.Add(item); });
  paced.Push(7);
  ASSERT_TRUE(handled.WaitFor(1));
  paced.Push(8);  // waits behind the hour's pause
  const auto start = Clock::now();
  paced.Stop();
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(handled.Items(), (std::vector<int>{7}));
  EXPECT_FALSE(paced.Empty());
}

TEST(PacedWorker, AWorkerWithoutWorkRunsNoPass) {
  std::atomic<int> looks{0};
  std::atomic<int> passes{0};
  std::atomic<bool> work{false};
  queue::PacedWorker worker(
      0ms,
      [&] {
        ++looks;
        return work.load();
      },
      [&] {
        ++passes;
        work = false;
      });
  worker.Wake();
  worker.Wake();
  work = true;
  worker.Wake();
  const auto deadline = Clock::now() + 20s;
  while (passes == 0 && Clock::now() < deadline) std::this_thread::yield();
  worker.Stop();
  EXPECT_EQ(passes, 1);
  EXPECT_LE(looks, 5);  // one look per wake-up, not a poll
}
