#include "queue/keyed_paced_queue.h"
#include "queue/paced_queue.h"
#include "queue/paced_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "support/gate.h"

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

namespace {

// A keyed queue whose hand-over waits at a gate: closed, it holds the first record in hand so
// the test can fill the queue behind it. Negative records are handed back unused (stale).
class GatedQueue {
 public:
  GatedQueue(std::chrono::milliseconds pace, queue::QueueBound bound)
      : records(pace, bound, [this](int record) {
          handled.Add(record);
          gate.Pass();
          return record >= 0;
        }) {}

  Handled handled;
  testing_support::Gate gate;
  queue::KeyedPacedQueue<int> records;  // last: its worker uses the rest
};

}  // namespace

TEST(KeyedPacedQueue, ARecordPushedUnderAWaitingKeyTakesItsPlace) {
  GatedQueue queue(0ms, {});
  queue.gate.Close();
  queue.records.Push(0);
  ASSERT_TRUE(queue.handled.WaitFor(1));  // held: the rest waits behind it
  EXPECT_EQ(queue.records.Push(1, std::string("node 1 folds")), queue::Pushed::kAppended);
  EXPECT_EQ(queue.records.Push(2, std::string("node 1 beacon")), queue::Pushed::kAppended);
  EXPECT_EQ(queue.records.Push(3, std::string("node 1 folds")), queue::Pushed::kReplaced);
  EXPECT_EQ(queue.records.Push(4), queue::Pushed::kAppended);
  EXPECT_EQ(queue.records.Push(4), queue::Pushed::kAppended) << "records without a key never merge";
  EXPECT_EQ(queue.records.Counters().waiting, 4u);
  queue.gate.Open();
  ASSERT_TRUE(queue.handled.WaitFor(5));
  EXPECT_EQ(queue.handled.Items(), (std::vector<int>{0, 3, 2, 4, 4}));
  const auto counters = queue.records.Counters();
  EXPECT_EQ(counters.replaced, 1u);
  EXPECT_EQ(counters.peak, 4u);
  EXPECT_EQ(counters.dropped, 0u);

  // A key whose record was handed over waits anew.
  EXPECT_EQ(queue.records.Push(5, std::string("node 1 folds")), queue::Pushed::kAppended);
  ASSERT_TRUE(queue.handled.WaitFor(6));
}

TEST(KeyedPacedQueue, ARecordItsTurnFindsStaleCostsNoPace) {
  GatedQueue queue(1h, {});
  for (const int record : {-1, -2, 1, 2}) queue.records.Push(record);
  ASSERT_TRUE(queue.handled.WaitFor(3)) << "the stale records cost no hour's pace";
  const auto start = Clock::now();
  queue.records.Stop();
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(queue.handled.Items(), (std::vector<int>{-1, -2, 1}));
  EXPECT_EQ(queue.records.Counters().skipped, 2u);
  EXPECT_EQ(queue.records.Counters().waiting, 1u);
}

TEST(KeyedPacedQueue, AFullQueueDropsByItsPolicyAndCounts) {
  struct Case {
    queue::Overflow overflow;
    std::vector<queue::Pushed> pushed;  // of 1, 2, 3, 4
    std::vector<int> handled;
  };
  const std::vector<Case> cases{
      {queue::Overflow::kRefuseNewest,
       {queue::Pushed::kAppended, queue::Pushed::kAppended, queue::Pushed::kRefused, queue::Pushed::kRefused},
       {0, 1, 2}},
      {queue::Overflow::kDropOldest,
       {queue::Pushed::kAppended, queue::Pushed::kAppended, queue::Pushed::kDroppedOldest,
        queue::Pushed::kDroppedOldest},
       {0, 3, 4}},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.overflow == queue::Overflow::kRefuseNewest ? "refuse the newest" : "drop the oldest");
    GatedQueue queue(0ms, {2, entry.overflow});
    queue.gate.Close();
    queue.records.Push(0);
    ASSERT_TRUE(queue.handled.WaitFor(1));
    std::vector<queue::Pushed> pushed;
    for (const int record : {1, 2, 3, 4}) pushed.push_back(queue.records.Push(record, std::to_string(record)));
    EXPECT_EQ(pushed, entry.pushed);
    // A record under the key of a waiting one takes its place even in a full queue.
    const int last = entry.handled.back();
    EXPECT_EQ(queue.records.Push(last, std::to_string(last)), queue::Pushed::kReplaced);
    queue.gate.Open();
    ASSERT_TRUE(queue.handled.WaitFor(3));
    EXPECT_EQ(queue.handled.Items(), entry.handled);
    const auto counters = queue.records.Counters();
    EXPECT_EQ(counters.dropped, 2u);
    EXPECT_EQ(counters.peak, 2u);
  }
}
