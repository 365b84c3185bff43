#include "timer/timer_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

// Records each handler call: which timer, with which argument, on which thread.
class Journal {
 public:
  timer::TimerQueue::Handler Handler(int tag) {
    return [this, tag](bool cancelled) {
      const std::lock_guard<std::mutex> guard(lock_);
      calls_.push_back({tag, cancelled, std::this_thread::get_id()});
    };
  }
  struct Call {
    int tag;
    bool cancelled;
    std::thread::id thread;
  };
  std::vector<Call> Calls() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  std::size_t Count() const { return Calls().size(); }

 private:
  mutable std::mutex lock_;
  std::vector<Call> calls_;
};

}  // namespace

TEST(TimerQueue, IdentifiersCountFromOnePerInstance) {
  timer::TimerQueue first;
  timer::TimerQueue second;
  EXPECT_EQ(first.Add(1h, nullptr), 1u);
  EXPECT_EQ(first.Add(std::chrono::minutes(5), nullptr), 2u);
  EXPECT_EQ(second.Add(1s, nullptr), 1u);
  EXPECT_EQ(first.Add(1s, nullptr), 3u);
}

TEST(TimerQueue, ZeroDelayExpiresAtOnceOnTheWorkerThread) {
  Journal journal;
  timer::TimerQueue timers;
  timers.Add(0s, journal.Handler(1));
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 1; }));
  const auto call = journal.Calls().front();
  EXPECT_FALSE(call.cancelled);
  EXPECT_NE(call.thread, std::this_thread::get_id());
}

TEST(TimerQueue, CancelReturnsOneThenZeroAndRunsTheHandlerOnceWithTrue) {
  Journal journal;
  timer::TimerQueue timers;
  const auto id = timers.Add(1h, journal.Handler(7));
  EXPECT_EQ(timers.Cancel(id), 1u);
  EXPECT_EQ(timers.Cancel(id), 0u);
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 1; }));
  EXPECT_TRUE(journal.Calls().front().cancelled);
  EXPECT_EQ(timers.Cancel(999), 0u);  // never issued
}

TEST(TimerQueue, CancelAfterExpiryReturnsZeroAndCallsNothing) {
  Journal journal;
  timer::TimerQueue timers;
  const auto id = timers.Add(0s, journal.Handler(1));
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 1; }));
  EXPECT_EQ(timers.Cancel(id), 0u);
  timers.Add(0s, journal.Handler(2));  // a later timer proves the worker went on without another call
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 2; }));
  EXPECT_EQ(journal.Calls()[1].tag, 2);
}

TEST(TimerQueue, TimersExpireInDeadlineOrderWhateverTheOrderOfAdding) {
  for (const bool later_first : {false, true}) {
    Journal journal;
    timer::TimerQueue timers;
    if (later_first) {
      timers.Add(200ms, journal.Handler(20));
      timers.Add(100ms, journal.Handler(10));
    } else {
      timers.Add(100ms, journal.Handler(10));
      timers.Add(200ms, journal.Handler(20));
    }
    ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 2; }));
    EXPECT_EQ(journal.Calls()[0].tag, 10);
    EXPECT_EQ(journal.Calls()[1].tag, 20);
    EXPECT_FALSE(journal.Calls()[0].cancelled);
  }
}

TEST(TimerQueue, DestructionRunsEveryPendingHandlerOnceWithTrue) {
  Journal journal;
  {
    timer::TimerQueue timers;
    timers.Add(1h, journal.Handler(1));
    timers.Add(2h, journal.Handler(2));
    const auto cancelled = timers.Add(3h, journal.Handler(3));
    timers.Add(4h, journal.Handler(4));
    timers.Cancel(cancelled);
    ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 1; }));
  }
  const auto calls = journal.Calls();
  ASSERT_EQ(calls.size(), 4u);
  std::vector<int> tags;
  for (const auto& call : calls) {
    EXPECT_TRUE(call.cancelled);
    tags.push_back(call.tag);
  }
  std::sort(tags.begin() + 1, tags.end());
  EXPECT_EQ(tags, (std::vector<int>{3, 1, 2, 4}));
}

TEST(TimerQueue, HandlersMayAddAndCancelOnTheirOwnQueue) {
  timer::TimerQueue timers;
  std::atomic<int> expirations{0};
  std::atomic<bool> victim_cancelled{false};
  const auto victim = timers.Add(1h, [&](bool cancelled) { victim_cancelled = cancelled; });
  std::function<void(bool)> periodic = [&](bool cancelled) {
    if (cancelled) return;
    if (++expirations < 3) timers.Add(10ms, periodic);
  };
  timers.Add(10ms, [&](bool) {
    timers.Cancel(victim);
    timers.Add(0ms, periodic);
  });
  EXPECT_TRUE(WaitUntil([&] { return expirations == 3 && victim_cancelled; }));
}

TEST(TimerQueue, AddFromManyThreadsGivesDistinctIdentifiers) {
  timer::TimerQueue timers;
  std::atomic<int> fired{0};
  std::vector<std::thread> adders;
  std::mutex ids_lock;
  std::vector<std::uint64_t> ids;
  for (int t = 0; t < 4; ++t) {
    adders.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        const auto id = timers.Add(1ms, [&](bool) { ++fired; });
        const std::lock_guard<std::mutex> guard(ids_lock);
        ids.push_back(id);
      }
    });
  }
  for (auto& adder : adders) adder.join();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
  EXPECT_EQ(ids.back(), 200u);
  EXPECT_TRUE(WaitUntil([&] { return fired == 200; }));
}

TEST(TimerQueue, QueuesSharingAWorkerRunOnItsThreadAndKeepTheirOwnTimers) {
  Journal journal;
  auto worker = std::make_shared<timer::TimerWorker>();
  timer::TimerQueue first(worker);
  auto second = std::make_unique<timer::TimerQueue>(worker);
  EXPECT_EQ(first.Add(1h, journal.Handler(1)), 1u);
  EXPECT_EQ(second->Add(1h, journal.Handler(2)), 1u);
  EXPECT_EQ(second->Cancel(1), 1u);  // the second queue's timer 1, not the first's
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 1; }));
  EXPECT_EQ(journal.Calls()[0].tag, 2);
  second.reset();  // the first queue's timer stays pending
  first.Add(0s, journal.Handler(3));
  second = std::make_unique<timer::TimerQueue>(worker);
  second->Add(0s, journal.Handler(4));
  ASSERT_TRUE(WaitUntil([&] { return journal.Count() == 3; }));
  const auto calls = journal.Calls();
  EXPECT_EQ(calls[1].thread, calls[2].thread);
  EXPECT_EQ(calls[0].thread, calls[1].thread);
  EXPECT_FALSE(calls[1].cancelled);
  EXPECT_FALSE(calls[2].cancelled);
}

TEST(TimerQueue, DestructionWaitsForTheQueuesRunningHandlerOnASharedWorker) {
  auto worker = std::make_shared<timer::TimerWorker>();
  auto timers = std::make_unique<timer::TimerQueue>(worker);
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> late_cancelled{false};
  auto* const queue = timers.get();
  queue->Add(0s, [&, queue](bool) {
    started = true;
    std::this_thread::sleep_for(200ms);  // a slow handler, e.g. a read in flight
    // Re-arming while the queue is being destroyed runs the new timer as cancelled.
    queue->Add(1h, [&](bool cancelled) { late_cancelled = cancelled; });
    finished = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  timers.reset();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(late_cancelled);
}
