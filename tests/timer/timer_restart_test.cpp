// Watchdogs restarted over and over on one shared worker: the heap must keep to the pending
// timers, however many restarts there have been.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "timer/timer_queue.h"
#include "timer/timer_worker.h"

using namespace std::chrono_literals;

namespace {

constexpr std::size_t kWatchdogs = 1000;
constexpr int kRounds = 20;

// Counts the handler calls of every watchdog timer, by outcome.
struct Outcomes {
  std::atomic<int> expired{0};
  std::atomic<int> cancelled{0};

  timer::TimerQueue::Handler Handler() {
    return [this](bool was_cancelled) { ++(was_cancelled ? cancelled : expired); };
  }
};

}  // namespace

TEST(TimerRestarts, TheSharedHeapHoldsOnlyThePendingTimers) {
  Outcomes outcomes;
  auto worker = std::make_shared<timer::TimerWorker>();
  // A poll timer due before every watchdog keeps the top of the heap busy, as in the gateway.
  timer::TimerQueue poller(worker);
  poller.Add(30min, [](bool) {});
  std::vector<std::unique_ptr<timer::TimerQueue>> watchdogs;
  std::vector<std::uint64_t> ids;
  for (std::size_t index = 0; index < kWatchdogs; ++index) {
    watchdogs.push_back(std::make_unique<timer::TimerQueue>(worker));
    ids.push_back(watchdogs.back()->Add(1h, outcomes.Handler()));
  }
  const std::size_t live = kWatchdogs + 1;
  for (int round = 1; round <= kRounds; ++round) {
    for (std::size_t index = 0; index < kWatchdogs; ++index) {
      ASSERT_EQ(watchdogs[index]->Cancel(ids[index]), 1u);
      ids[index] = watchdogs[index]->Add(1h, outcomes.Handler());
    }
    worker->Drain();  // the cancelled handlers have run
    ASSERT_EQ(worker->PendingItems(), live) << "round " << round;
  }
  EXPECT_EQ(outcomes.cancelled, kRounds * static_cast<int>(kWatchdogs));
  watchdogs.clear();
  EXPECT_EQ(outcomes.cancelled, (kRounds + 1) * static_cast<int>(kWatchdogs));
  EXPECT_EQ(outcomes.expired, 0);
  EXPECT_EQ(worker->PendingItems(), 1u);  // the poll timer
}
